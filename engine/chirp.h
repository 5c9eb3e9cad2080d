#pragma once
#include <cstdint>
#include <span>

#include "engine/wave_format.h"

// Both synthesise the chirp twice: the byte image the output device plays (buffer) and the signed
// template the correlation uses (reference, length + 4 computed entries). Writes beyond either
// span are dropped, so a length left over from an earlier plan cannot overrun the buffers.
void makeChirp16(double startHz, double endHz, std::span<uint8_t> buffer, uint32_t length,
                 std::span<int32_t> reference, const WaveFormat& format);
void makeChirp8(double startHz, double endHz, std::span<uint8_t> buffer, uint32_t length,
                std::span<int32_t> reference, const WaveFormat& format);
