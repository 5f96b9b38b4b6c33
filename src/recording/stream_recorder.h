#pragma once
// CStreamRecorder: writes binary, text and video recordings. Placeholder until recording lands.

class CStreamRecorder {
public:
    void Close() {}
};
