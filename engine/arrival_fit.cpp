#include "engine/arrival_fit.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/fractional_delay.h"

namespace {

constexpr double kSupportFloor = 1e-6;  // of the shape's envelope peak
constexpr int kCoarseSteps = 16;        // looks over one carrier period before the fine search
constexpr double kGolden = 0.6180339887498949;
constexpr int kGoldenSteps = 16;     // shrinks the bracket to 5e-4 of itself, 1e-4 of a lag
constexpr double kLobeShare = 0.25;  // of the shape's peak: where its main lobe ends
// Carrier cycles on either side of a fit's reach whose filter outputs it may read.
constexpr double kFitCycles = 1.5;

// The largest value of `score` between lo and hi, where it has one peak: golden-section search.
template <typename Score>
double goldenMaximum(Score score, double lo, double hi) {
  double a = hi - kGolden * (hi - lo);
  double b = lo + kGolden * (hi - lo);
  double fa = score(a);
  double fb = score(b);
  for (int i = 0; i < kGoldenSteps; ++i) {
    if (fa > fb) {
      hi = b;
      b = a;
      fb = fa;
      a = hi - kGolden * (hi - lo);
      fa = score(a);
    } else {
      lo = a;
      a = b;
      fa = fb;
      b = lo + kGolden * (hi - lo);
      fb = score(b);
    }
  }
  return 0.5 * (lo + hi);
}

}  // namespace

// Beyond the last lag where |shape| still reaches kLobeShare of its peak.
int mainLobe(const ArrivalShape& s) {
  double peak = 0.0;
  int at = 0;
  for (int t = -s.before; t <= s.after(); ++t) {
    if (std::abs(s.at(t)) > peak) {
      peak = std::abs(s.at(t));
      at = t;
    }
  }
  int last = at + 1;
  for (int t = at + 1; t <= s.after(); ++t) {
    if (std::abs(s.at(t)) >= kLobeShare * peak) last = t;
  }
  return std::max(2, last - at + 2);
}

// Four times the first zero of the shape's autocorrelation, found between the whole lags where
// it changes sign.
double carrierPeriod(const ArrivalShape& s) {
  const auto autocorrelation = [&](int lag) {
    double sum = 0.0;
    for (int t = -s.before; t <= s.after(); ++t) sum += s.at(t) * s.at(t + lag);
    return sum;
  };
  double previous = autocorrelation(0);
  for (int lag = 1; lag <= s.before + s.after(); ++lag) {
    const double r = autocorrelation(lag);
    if (r <= 0.0) return 4.0 * (lag - 1 + previous / (previous - r));
    previous = r;
  }
  return 2.0;
}

ArrivalModel::ArrivalModel(std::span<const double> signal, const ArrivalShape& shape,
                           int64_t firstLag, EchoSearchScratch& scratch)
    : shape_(shape), s_(scratch), firstLag_(firstLag), lobe_(mainLobe(shape)) {
  for (const double v : shape.values) {
    energy_ += v * v;
    peak_ = std::max(peak_, std::abs(v));
  }
  period_ = carrierPeriod(shape);
  s_.envelope.resize(std::min(shape.values.size(), s_.envelope.capacity()));
  double peakEnvelope = 0.0;
  for (size_t i = 0; i < s_.envelope.size(); ++i) {
    s_.envelope[i] = std::hypot(shape.values[i], shape.quadrature[i]);
    peakEnvelope = std::max(peakEnvelope, s_.envelope[i]);
  }
  // Where the shape matters: filters and subtractions leave out its faint ends.
  supportFrom_ = shape.after();
  supportTo_ = -shape.before;
  for (size_t i = 0; i < s_.envelope.size(); ++i) {
    if (s_.envelope[i] < kSupportFloor * peakEnvelope) continue;
    supportFrom_ = std::min<int64_t>(supportFrom_, static_cast<int64_t>(i) - shape.before);
    supportTo_ = std::max<int64_t>(supportTo_, static_cast<int64_t>(i) - shape.before);
  }
  tabulateShape();
  s_.residual.assign(signal.begin(), signal.end());
  last_ = firstLag + static_cast<int64_t>(signal.size()) - 1;
}

void ArrivalModel::add(const FoundArrival& a, double sign) {
  const double whole = std::floor(a.lag);
  const auto base = static_cast<int64_t>(whole);
  // The shape at (n - fraction) for every whole n: a cubic through the table's neighbouring
  // phases, whose steps are a sixteenth of a lag.
  const double u = (a.lag - whole) * kPhases;
  const auto p0 = static_cast<int>(u);
  const double f = u - p0;
  const std::array<double, 4> w = {-0.5 * f * (1.0 - f) * (1.0 - f), 1.0 + f * f * (1.5 * f - 2.5),
                                   0.5 * f * (1.0 + f * (4.0 - 3.0 * f)), -0.5 * f * f * (1.0 - f)};
  const double scale = sign * a.amplitude;
  changedFrom_ = std::min(changedFrom_, base + tableFrom_);
  changedTo_ = std::max(changedTo_, base + tableTo_);
  for (int64_t n = tableFrom_; n <= tableTo_; ++n) {
    const int64_t i = base + n - firstLag_;
    if (i < 0 || i >= static_cast<int64_t>(s_.residual.size())) continue;
    double v = 0.0;
    for (int k = 0; k < 4; ++k) v += w[static_cast<size_t>(k)] * tableAt(n, p0 - 1 + k);
    s_.residual[static_cast<size_t>(i)] += scale * v;
  }
}

// The shape at n - phase / kPhases, for phases -1 .. kPhases + 2 (those beyond a whole lag are
// the neighbouring lag's).
double ArrivalModel::tableAt(int64_t n, int phase) const {
  if (phase < 0) {
    phase += kPhases;
    n += 1;
  } else if (phase >= kPhases) {
    phase -= kPhases;
    n -= 1;
  }
  const int64_t row = n - tableFrom_;
  if (row < 0 || row > tableTo_ - tableFrom_) return 0.0;
  return s_.shapeTable[static_cast<size_t>(row) * kPhases + static_cast<size_t>(phase)];
}

// The shape between its lags, once per search: every later subtraction reads it from here.
void ArrivalModel::tabulateShape() {
  tableFrom_ = supportFrom_ - kInterpTaps - 1;
  tableTo_ = supportTo_ + kInterpTaps + 1;
  const auto rows = static_cast<size_t>(tableTo_ - tableFrom_ + 1);
  s_.shapeTable.resize(std::min(rows * kPhases, s_.shapeTable.capacity()));
  const auto sample = [&](int64_t t) { return shape_.at(t); };
  for (int phase = 0; phase < kPhases; ++phase) {
    const FractionalDelay delay = FractionalDelay::of(static_cast<double>(phase) / kPhases);
    for (size_t row = 0; row * kPhases + static_cast<size_t>(phase) < s_.shapeTable.size(); ++row) {
      s_.shapeTable[row * kPhases + static_cast<size_t>(phase)] =
          delay.apply(sample, tableFrom_ + static_cast<int64_t>(row));
    }
  }
}

// The matched filter of the shape on the residual at whole lag d, and (when `quadrature` is
// given) that of its quadrature.
double ArrivalModel::matchedAt(int64_t d, double* quadrature) const {
  const int64_t from = std::max<int64_t>(supportFrom_, firstLag_ - d);
  const int64_t to = std::min<int64_t>(supportTo_, last_ - d);
  if (from > to) {
    if (quadrature != nullptr) *quadrature = 0.0;
    return 0.0;
  }
  const double* r = &s_.residual[static_cast<size_t>(d + from - firstLag_)];
  const double* m = &shape_.values[static_cast<size_t>(from + shape_.before)];
  const auto n = static_cast<size_t>(to - from + 1);
  double in = 0.0;
  for (size_t i = 0; i < n; ++i) in += r[i] * m[i];
  if (quadrature != nullptr) {
    const double* q = &shape_.quadrature[static_cast<size_t>(from + shape_.before)];
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += r[i] * q[i];
    *quadrature = sum;
  }
  return in;
}

// The matched filter's outputs around one guess, each computed when first asked for: the
// envelope near the guess, the filter itself around the envelope's peak. NaN marks one not
// computed yet.
class ArrivalModel::FilterMemo {
 public:
  FilterMemo(const ArrivalModel& model, int64_t from, size_t count)
      : model_(model), matched_(model.s_.matched), quadrature_(model.s_.quadrature), from_(from) {
    matched_.assign(std::min(count, matched_.capacity()), NAN);
    quadrature_.assign(matched_.size(), NAN);
  }

  double matched(int64_t d) {
    const int64_t k = slot(d);
    if (k < 0) return 0.0;
    double& v = matched_[static_cast<size_t>(k)];
    if (std::isnan(v)) v = model_.matchedAt(d, nullptr);
    return v;
  }
  // The envelope's square.
  double envelope(int64_t d) {
    const int64_t k = slot(d);
    if (k < 0) return 0.0;
    const auto i = static_cast<size_t>(k);
    if (std::isnan(quadrature_[i])) matched_[i] = model_.matchedAt(d, &quadrature_[i]);
    return matched_[i] * matched_[i] + quadrature_[i] * quadrature_[i];
  }
  // The filter at position p = n - f with n whole: its output is as band-limited as the signal,
  // so windowed-sinc interpolation between the lags is exact to far below the noise.
  double at(double p) {
    const double n = std::ceil(p);
    return FractionalDelay::of(n - p).apply([this](int64_t d) { return matched(d); },
                                            static_cast<int64_t>(n));
  }

 private:
  int64_t slot(int64_t d) const {
    const int64_t k = d - from_;
    return k < 0 || k >= static_cast<int64_t>(matched_.size()) ? -1 : k;
  }

  const ArrivalModel& model_;
  std::vector<double>& matched_;
  std::vector<double>& quadrature_;
  int64_t from_;
};

// The matched filter's carrier is nearly as high one half-period off its peak, but its envelope
// is not: the envelope's peak (a parabola through the largest whole lag and its neighbours)
// picks the cycle, then the filter's own peak within half a period of it is found between the
// lags: a coarse look over that period, then a golden-section search around the best of it.
FoundArrival ArrivalModel::fit(double guess, int reach, double polarity, double within) {
  const auto centre = static_cast<int64_t>(std::llround(guess));
  const auto cycles = static_cast<int64_t>(std::ceil(kFitCycles * period_));
  FilterMemo memo(*this, centre - reach - cycles - kInterpTaps - 1,
                  static_cast<size_t>(2 * (reach + cycles + kInterpTaps + 1) + 1));

  int64_t best = centre;
  for (int64_t d = centre - reach; d <= centre + reach; ++d) {
    if (memo.envelope(d) > memo.envelope(best)) best = d;
  }
  const double left = memo.envelope(best - 1), middle = memo.envelope(best);
  const double right = memo.envelope(best + 1);
  const double curve = left - 2.0 * middle + right;
  const double peak = static_cast<double>(best) +
                      (curve < 0.0 ? std::clamp(0.5 * (left - right) / curve, -0.5, 0.5) : 0.0);

  // Signed as the arrival must be.
  const auto score = [&](double p) {
    const double v = memo.at(p);
    return polarity == 0.0 ? std::abs(v) : polarity * v;
  };
  double start = peak;
  double startScore = -INFINITY;
  for (int i = 0; i < kCoarseSteps; ++i) {
    const double p = peak + period_ * ((i + 0.5) / kCoarseSteps - 0.5);
    if (std::abs(p - guess) > within) continue;
    const double v = score(p);
    if (v > startScore) {
      startScore = v;
      start = p;
    }
  }
  if (!std::isfinite(startScore)) start = std::clamp(peak, guess - within, guess + within);
  const double bestLag =
      goldenMaximum(score, std::max(start - period_ / kCoarseSteps, guess - within),
                    std::min(start + period_ / kCoarseSteps, guess + within));
  const double value = memo.at(bestLag);
  // A copy of the shape matches as well in phase as its envelope allows; anything else falls short.
  const double top = std::sqrt(std::max(middle, 0.0));
  const double confidence = top > 0.0 ? std::clamp(std::abs(value) / top, 0.0, 1.0) : 0.0;
  return FoundArrival{bestLag, energy_ > 0.0 ? value / energy_ : 0.0, false, confidence};
}

double ArrivalModel::energyBetween(int64_t from, int64_t to) const {
  double sum = 0.0;
  for (int64_t l = from; l <= to; ++l) sum += residual(l) * residual(l);
  return sum;
}

int64_t ArrivalModel::strongestLag(int64_t from, int64_t to) const {
  int64_t best = -1;
  double bestValue = -1.0;
  for (int64_t lag = from; lag <= to; ++lag) {
    const double v = std::abs(residual(lag));
    if (v > bestValue) {
      bestValue = v;
      best = lag;
    }
  }
  return best;
}
