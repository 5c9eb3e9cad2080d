#pragma once
#include <array>
#include <cstddef>
#include <span>

// A background that is not white in the chirp's band (a whine, a fan's tones) told from the
// recording itself and taken out before the echo search. The frames before the direct sound hold
// nothing of the ping. Their spectrum, as a predictor of kSpectrumOrder poles sees it (sharp at a
// tone even from a few hundred frames), is raised to its median over the chirp's band wherever
// it lies below it, in the band and everywhere outside it, so that only what stands above the
// band's own level remains; a predictor of kWhiteningOrder poles fitted to that (autocorrelation
// method, Levinson-Durbin) gives the prediction-error filter A(z) = 1 + a1 z^-1 + ... + ap z^-p,
// which notches each such tone and leaves the rest flat. Hum and a pink or low-passed background
// outside the band are no concern of the search (the correlation with the chirp drops them) and
// are never boosted.
// The correlation is linear in the recording, so the same filter on the correlation and on the
// shape of one arrival keeps every echo a scaled, delayed copy of the (filtered) shape: the
// search runs unchanged on both, and a tone costs only the echoes that share its few hundred
// hertz. Where nothing stands out the prediction gains less than kWhiteningGain and the
// background is left as it is.

constexpr int kWhiteningOrder = 16;  // poles of the background: up to eight tones
// Least ratio of the background's power to its prediction error that is worth filtering.
constexpr double kWhiteningGain = 2.0;
constexpr int kSpectrumOrder = 32;              // poles of the background's own spectrum
constexpr size_t kLeastBackgroundFrames = 256;  // fewer tell no spectrum apart
constexpr size_t kMostBackgroundFrames = 1024;  // the latest before the direct sound

struct Whitening {
  std::array<double, kWhiteningOrder + 1> taps{1.0};  // A(z); taps[0] = 1
  int order = 0;                                      // 0: the background is left as it is
};

// The background's autocorrelation at lags 0 .. kSpectrumOrder, summed over its channels.
struct BackgroundSpectrum {
  std::array<double, kSpectrumOrder + 1> autocorrelation{};
  size_t frames = 0;
};

// Adds one channel's background to the sum, tapering the frames in place (a Hann taper keeps a
// tone's leakage from filling the notch). Allocates nothing.
void addBackground(BackgroundSpectrum& spectrum, std::span<double> frames);

// The prediction-error filter of what stands above the background's level in the chirp's band
// (bandFrom .. bandTo, in cycles per frame), or none where nothing does or the background is too
// short to tell.
Whitening whiteningOf(const BackgroundSpectrum& spectrum, double bandFrom, double bandTo);

// out[i] = sum_k taps[k] in[i + order - k]: the input filtered, from its order-th value on (the
// earlier ones lack their past). out must hold in.size() - order values.
void whiten(const Whitening& w, std::span<const double> in, std::span<double> out);

// The shape of one arrival (lags -before ..) filtered: zeros before it, so out holds
// in.size() + order values from the same first lag, its tail running on by the order.
void whitenShape(const Whitening& w, std::span<const double> in, std::span<double> out);
