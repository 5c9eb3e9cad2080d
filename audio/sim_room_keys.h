#pragma once
#include <string>
#include <string_view>

#include "audio/sim_room.h"

// The keys of the realistic room, apart from the plain room's keys in sim_room.cpp.

bool readRoomNumber(std::string_view text, double& value);
// "room key rt has a bad value '100': it takes a number from 0.05 to 10 s", for any key whose
// range is known here.
std::string badRoomValue(std::string_view key, std::string_view value);
inline bool inRoomRange(double v, double low, double high) {
  return v >= low && v <= high;
}

bool isRealisticRoomKey(std::string_view key);
// Reads one realistic-room key into `room`; a key of the shoebox makes the room a shoebox (the
// default one, unless a preset or an earlier key made it already). Returns the reason on a bad
// value.
std::string readRealisticRoomKey(std::string_view key, std::string_view value, SimRoom& room);

// Once every key is read: the loudspeaker and every microphone must be inside the shoebox.
std::string checkRoomGeometry(const SimRoom& room);
