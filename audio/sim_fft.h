#pragma once
#include <complex>
#include <span>
#include <vector>

// A small FFT for the simulated room, which builds its impulse responses and renders long
// chirps through it. Nothing here runs during a ping of the program itself.

// In-place radix-2 transform; the size must be a power of two. The inverse is scaled by 1 / n.
void fftInPlace(std::vector<std::complex<double>>& a, bool inverse);

// Linear convolution of a and b (a.size() + b.size() - 1 values; empty when either is empty):
// summed directly when that is cheap, through the FFT otherwise.
std::vector<double> convolve(std::span<const double> a, std::span<const double> b);
