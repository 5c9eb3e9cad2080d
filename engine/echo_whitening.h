#pragma once
#include <array>
#include <cstddef>
#include <span>

// A background that is not white (a whine, a fan's tones, hum) told from the recording itself
// and taken out before the echo search. The frames before the direct sound hold nothing of the
// ping; a linear predictor fitted to them (autocorrelation method, Levinson-Durbin) leaves their
// prediction error, whose filter A(z) = 1 + a1 z^-1 + ... + ap z^-p notches every steady tone
// and flattens any colour the background has. The correlation is linear in the recording, so the
// same filter on the correlation and on the shape of one arrival keeps every echo a scaled,
// delayed copy of the (filtered) shape: the search runs unchanged on both, and a tone costs
// only the echoes that share its few hertz. White noise predicts nothing, so a background whose
// prediction gains less than kWhiteningGain is left as it is.

constexpr int kWhiteningOrder = 16;  // poles of the background: up to eight tones
// Least ratio of the background's power to its prediction error that is worth filtering: white
// noise over a few hundred frames gains about 1 + order / frames.
constexpr double kWhiteningGain = 2.0;
constexpr size_t kLeastBackgroundFrames = 128;  // fewer tell no spectrum apart
constexpr size_t kMostBackgroundFrames = 2048;  // the latest before the direct sound

struct Whitening {
  std::array<double, kWhiteningOrder + 1> taps{1.0};  // A(z); taps[0] = 1
  int order = 0;                                      // 0: the background is left as it is
};

// The background's autocorrelation at lags 0 .. kWhiteningOrder, summed over its channels.
struct BackgroundSpectrum {
  std::array<double, kWhiteningOrder + 1> autocorrelation{};
  size_t frames = 0;
};

// Adds one channel's background to the sum, tapering the frames in place (a Hann taper keeps a
// tone's leakage from filling the notch). Allocates nothing.
void addBackground(BackgroundSpectrum& spectrum, std::span<double> frames);

// The prediction-error filter of the background, or none where it is white or too short.
Whitening whiteningOf(const BackgroundSpectrum& spectrum);

// out[i] = sum_k taps[k] in[i + order - k]: the input filtered, from its order-th value on (the
// earlier ones lack their past). out must hold in.size() - order values.
void whiten(const Whitening& w, std::span<const double> in, std::span<double> out);

// The shape of one arrival (lags -before ..) filtered: zeros before it, so out holds
// in.size() + order values from the same first lag, its tail running on by the order.
void whitenShape(const Whitening& w, std::span<const double> in, std::span<double> out);
