#pragma once
#include <cstdint>
#include <span>
#include <vector>

// The sound path of one input channel as the measurements show it: what the correlation of one
// arrival looks like through this loudspeaker, microphone and format. No real loudspeaker plays
// the ideal chirp, so its correlation is not the chirp's own; it is learned from the direct
// arrival, averaged over pings:
//  [ideal]     X, the correlation of the played chirp with itself, and its quadrature X^
//              (X with every frequency shifted by 90 degrees);
//  [average]   the direct arrival's correlation around its anchor lag, a running mean over the
//              pings of one device and format;
//  [fit]       the mean as a low-order filter applied to X and X^: a few taps of each around lag
//              0 (tilt, delay and any constant phase shift across the band) and two poles (one
//              resonance: a ringing loudspeaker), by Steiglitz-McBride iterations. Echoes near
//              the direct sound are delayed copies, which such a filter cannot make, so they stay
//              out of the fit and show in what it leaves; those the search has found are taken
//              out of the mean before the fit, so that a near wall does not bend the model. The
//              model runs on past the learned lags until a ringing has died away.

constexpr int kMaxChirpFrames = 1024;  // longest chirp (frames of one channel) that is learned
constexpr int kShapeGuardLags = 16;    // lags kept beyond the chirp's own length on each side
constexpr int kMaxRingLags = 608;      // lags after the chirp kept for a ringing response
constexpr int kMaxShapeLags = 2 * (kMaxChirpFrames + kShapeGuardLags) + kMaxRingLags + 1;

struct ChannelPath {
  int before = 0;                  // lags kept before the anchor
  int after = 0;                   // and after it
  int lobe = 1;                    // lags of X's main lobe after the anchor (half its envelope)
  std::vector<double> ideal;       // X at lags -before .. after
  std::vector<double> quadrature;  // X^ at the same lags
  std::vector<double> mean;        // the running mean of the direct arrival's correlation
  std::vector<double> model;       // the fitted response, peak 1, over modelLags lags
  size_t modelLags = 0;            // from -before on: its ringing runs on past `after`
  std::vector<double> work;        // the fit's own buffers
  uint32_t pings = 0;              // pings in the mean
  uint32_t sinceFit = 0;           // pings added since the latest fit
  bool fitted = false;             // the model holds a fit

  ChannelPath();  // every buffer at its largest size, once
  size_t lags() const { return static_cast<size_t>(before + after + 1); }
};

// 90 degrees of phase at every frequency: in[] through a windowed Hilbert transformer (taps
// 2 / (pi m) at odd m), zero outside it. `out` covers indices -outLead .. out.size() - 1 - outLead
// of `in`.
void quadratureOf(std::span<const double> in, std::span<double> out, int outLead);

// Starts learning a new path: the ideal responses of `played` (one channel's played chirp) with
// `ringLags` lags for a ringing tail; forgets the mean.
void startPath(ChannelPath& path, std::span<const double> played, int ringLags);

// An echo the latest search found, which the fit leaves out of the mean: its lag after the direct
// arrival and its amplitude relative to it.
struct PathEcho {
  double lag = 0.0;
  double amplitude = 0.0;
};

// Adds one ping's correlation at the anchor's lags (`around` holds lags -before .. after) to the
// mean, weighted 1 / min(pings, memory), and fits the model again to the mean less the known
// echoes (copies of the model so far). Allocates nothing.
enum class PathFit : uint8_t {
  kFull,       // gain and phase, then taps, then poles, each where it lowers the misfit enough
  kFirstLook,  // no poles: they could ring on into an echo near the direct sound before a
               // search has seen it
};
void learnPath(ChannelPath& path, std::span<const double> around, uint32_t memory,
               std::span<const PathEcho> echoes, PathFit fit);

// Fits the model again to the same mean, less another set of known echoes.
void fitPath(ChannelPath& path, std::span<const PathEcho> echoes, PathFit fit);
