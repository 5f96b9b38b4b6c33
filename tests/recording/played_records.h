#pragma once
// Every record a player hands out, read the way play-back reads them, for the tests that check
// what a damaged or interrupted recording still plays.
#include <string>
#include <vector>

#include "frame/binary_record_reader.h"
#include "recording/playback_rules.h"
#include "recording/stream_player.h"

// The records of an open `player` of `type`, at most 100 (a player that never ends stops there).
inline std::vector<std::string> PlayAll(CStreamPlayer& player, int type) {
    std::vector<std::string> records;
    for (int guard = 0; guard < 100; ++guard) {
        std::string record;
        if (type == kPlayTextStream) {
            if (player.ReadTextFrame(record) == 0) {
                break;
            }
        } else {
            record.resize(type == kPlayBinaryStream ? kBinaryRecordSize : kRawFrameSize);
            if (player.ReadRecord(static_cast<int>(record.size()),
                                  reinterpret_cast<uint8_t*>(record.data())) == 0) {
                break;
            }
        }
        records.push_back(record);
    }
    return records;
}
