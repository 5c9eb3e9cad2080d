#pragma once
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <string_view>

// A toolbar image (0..8, in toolbar order), drawn from its 18 x 18 design at the given size.
// An unknown index or a missing image gives a transparent picture.
QImage renderToolbarImage(int image, int sizePx);
// The same image as an icon with pixmaps for the usual toolbar sizes, so it stays sharp at any
// scale instead of being stretched from one bitmap.
QIcon toolbarIcon(int image);

// A picture of the resources (an SVG path) at `size` logical pixels, drawn for the screen's
// pixel ratio so it stays sharp; a missing picture gives a transparent one.
QPixmap renderResourcePicture(std::string_view path, QSize size, double devicePixelRatio);
