#pragma once
// CFpsMeter: average frame rate of one continuous stream. Placeholder until the device link lands.
#include <string>

class CFpsMeter {
public:
    std::string Tick() { return m_rateText; }

private:
    std::string m_rateText;
};
