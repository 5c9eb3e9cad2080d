#pragma once
#include <QIcon>
#include <QImage>

// A toolbar image (0..8, in toolbar order), drawn from its 18 x 18 design at the given size.
// An unknown index or a missing image gives a transparent picture.
QImage renderToolbarImage(int image, int sizePx);
// The same image as an icon with pixmaps for the usual toolbar sizes, so it stays sharp at any
// scale instead of being stretched from one bitmap.
QIcon toolbarIcon(int image);
