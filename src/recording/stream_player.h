#pragma once
// CStreamPlayer: reads recordings for play-back. Placeholder until play-back lands.

class CStreamPlayer {
public:
    void Close() {}
};
