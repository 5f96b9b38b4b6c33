#include "frame/text_frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "frame/conversion.h"

namespace {

std::string Printf(const char* format, double number) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, number);
    return buffer;
}

FrameData FlatFrame(uint16_t value) {
    FrameData frame{};
    for (uint16_t& v : frame.values) {
        v = value;
    }
    return frame;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

TEST(TextFrame, EveryFieldEqualsPrintfForEveryValueAndUnit) {
    for (int v = 0; v < 65536; ++v) {
        const auto value = static_cast<uint16_t>(v);
        const float kelvin = static_cast<float>(v / 10.0);
        ASSERT_EQ(TemperatureFieldText(value, kUnitKelvin), Printf("%+.1f", kelvin)) << v;
        ASSERT_EQ(TemperatureFieldText(value, kUnitCelsius), Printf("%+.1f", kelvin - 273.15)) << v;
        ASSERT_EQ(TemperatureFieldText(value, kUnitFahrenheit),
                  Printf("%+.1f", (kelvin - 273.15) * 1.8f + 32))
            << v;
        ASSERT_EQ(VoltageFieldText(value), Printf("%+.4f", v * 0.001221)) << v;
    }
    // Units other than 1 and 2 are Fahrenheit.
    EXPECT_EQ(TemperatureFieldText(2981, 7), TemperatureFieldText(2981, kUnitFahrenheit));
}

TEST(TextFrame, KnownValuesInEachUnit) {
    EXPECT_EQ(TemperatureFieldText(2981, kUnitKelvin), "+298.1");
    EXPECT_EQ(TemperatureFieldText(2981, kUnitCelsius), "+25.0");
    EXPECT_EQ(TemperatureFieldText(2981, kUnitFahrenheit), "+76.9");
    EXPECT_EQ(VoltageFieldText(4095), "+5.0000");
    EXPECT_EQ(VoltageFieldText(1000), "+1.2210");
}

TEST(TextFrame, LayoutOfARenderedFrame) {
    FrameData frame = FlatFrame(2981);
    frame.values[31] = 3000;  // row 0, column 31: first field of line 1
    frame.values[0] = 2000;   // row 0, column 0: last field of line 1
    for (int c = 0; c < kOffsetCount; ++c) {
        frame.offsets[c] = static_cast<uint16_t>(c);
    }
    for (int w = 0; w < kHeaderWordCount; ++w) {
        frame.header[w] = static_cast<uint16_t>(1000 * w);
    }
    const TextRendering r = RenderTemperatureText(frame, kUnitCelsius);
    const std::vector<std::string> lines = Split(r.text, '\n');
    ASSERT_EQ(lines.size(), 34u);  // 33 lines and the empty rest after the last LF
    EXPECT_EQ(lines[33], "");
    for (int i = 0; i < 33; ++i) {
        const std::string& line = lines[i];
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), "\t\r") << i;
        EXPECT_EQ(Split(line, '\t').size(), 33u) << i;  // 32 fields, then the CR
    }
    EXPECT_EQ(lines[0].substr(0, 6), "+26.9\t");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 8), "\t-73.1\t\r");
    EXPECT_EQ(lines[1].substr(0, 6), "+25.0\t");
    EXPECT_EQ(Split(lines[31], '\t')[0], "+0.0379");  // offset of column 31
    EXPECT_EQ(Split(lines[31], '\t')[31], "+0.0000");
    const std::vector<std::string> header = Split(lines[32], '\t');
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(header[i], "+0.0000");
    }
    EXPECT_EQ(header[16], "+4.8840");  // word 4 = 4000 counts, twice
    EXPECT_EQ(header[17], "+4.8840");
    EXPECT_EQ(header[30], "+13.4310");  // word 11 = 11000 counts
    // Minimum and maximum are in kelvin whatever the unit.
    EXPECT_EQ(r.minText, "+200.0");
    EXPECT_EQ(r.maxText, "+300.0");

    const TextRendering v = RenderVoltageText(FlatFrame(1000));
    EXPECT_EQ(v.text.substr(0, 8), "+1.2210\t");
    EXPECT_EQ(v.minText, "+1.2210");
    EXPECT_EQ(v.maxText, "+1.2210");
}

TEST(TextFrame, RenderThenParseGivesTheValuesBackInEveryUnit) {
    struct Case {
        char fileMode;
        int unit;  // 0: voltage rendering
    };
    for (const Case c : {Case{'K', kUnitKelvin}, Case{'C', kUnitCelsius},
                         Case{'F', kUnitFahrenheit}, Case{'V', 0}}) {
        int exact = 0;
        for (int base = 0; base < 65536; base += kPixelCount) {
            FrameData frame{};
            for (int i = 0; i < kPixelCount; ++i) {
                frame.values[i] = static_cast<uint16_t>((base + i) & 0xFFFF);
            }
            for (int i = 0; i < kOffsetCount; ++i) {
                frame.offsets[i] = static_cast<uint16_t>(base / 16 + 37 * i);
            }
            for (int i = 4; i < kHeaderWordCount; ++i) {
                frame.header[i] = static_cast<uint16_t>(base / 8 + 101 * i);
            }
            const TextRendering r =
                c.unit == 0 ? RenderVoltageText(frame) : RenderTemperatureText(frame, c.unit);
            const std::optional<FrameData> parsed = ParseTextFrame(r.text, c.fileMode);
            ASSERT_TRUE(parsed) << c.fileMode;
            for (int i = 0; i < kPixelCount; ++i) {
                // Printed digits and the truncation cost at most one step.
                const int diff = frame.values[i] - parsed->values[i];
                ASSERT_TRUE(diff == 0 || diff == 1)
                    << c.fileMode << " value " << frame.values[i] << " -> " << parsed->values[i];
                exact += diff == 0 ? 1 : 0;
            }
            for (int i = 0; i < kOffsetCount; ++i) {
                const int diff = frame.offsets[i] - parsed->offsets[i];
                ASSERT_TRUE(diff == 0 || diff == 1);
            }
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(parsed->header[i], 0);  // not written, read back from the zero fields
            }
            for (int i = 4; i < kHeaderWordCount; ++i) {
                const int diff = frame.header[i] - parsed->header[i];
                ASSERT_TRUE(diff == 0 || diff == 1);
            }
        }
        if (c.fileMode == 'K') {
            // Tenths of a kelvin print exactly; only the double product of a few loses a step.
            EXPECT_GT(exact, 60000);
        }
    }
}

TEST(TextFrame, InverseConversionsOfKnownNumbers) {
    EXPECT_EQ(ValueFromText(25.0, 'C'), 2981);
    EXPECT_EQ(ValueFromText(77.0, 'F'), 2981);
    EXPECT_EQ(ValueFromText(298.1, 'K'), 2981);
    EXPECT_EQ(ValueFromText(298.1, 'X'), 2981);
    EXPECT_EQ(ValueFromText(1.0, 'V'), 819);
    // Numbers outside 16 bits keep their low bits and never crash the reader.
    EXPECT_EQ(ValueFromText(1e300, 'K'), 0);
    EXPECT_EQ(ValueFromText(-0.5, 'K'), static_cast<uint16_t>(-5));
}

TEST(TextFrame, MalformedTextIsRejected) {
    const std::string good = RenderTemperatureText(FlatFrame(2981), kUnitKelvin).text;
    ASSERT_TRUE(ParseTextFrame(good, 'K'));

    std::string shortRow = good;
    shortRow.erase(0, shortRow.find('\t') + 1);  // line 1 now has 31 fields
    std::string longRow = good;
    longRow.insert(0, "+1.0\t");  // line 1 now has 33 fields
    std::string missingLine = good.substr(good.find('\n') + 1);
    std::string extraLine = good + good.substr(0, good.find('\n') + 1);
    std::string editorSaved = good;  // CR LF dropped entirely: one long line
    std::erase(editorSaved, '\r');

    for (const std::string& bad :
         {std::string(), std::string("junk"), std::string(40, '\r'), shortRow, longRow, missingLine,
          extraLine, editorSaved, good.substr(0, good.size() / 2)}) {
        EXPECT_FALSE(ParseTextFrame(bad, 'K')) << bad.substr(0, 40);
    }
    // As play-back hands frames over: LF removed, each line still ending in its CR.
    std::string fromFile = good;
    std::erase(fromFile, '\n');
    EXPECT_TRUE(ParseTextFrame(fromFile, 'K'));
    // A last line without its CR still counts when long enough.
    EXPECT_TRUE(ParseTextFrame(fromFile.substr(0, fromFile.size() - 1), 'K'));
}

TEST(TextFrame, FieldsAreReadLikeStrtod) {
    std::string text;
    for (int line = 0; line < 33; ++line) {
        for (int field = 0; field < 32; ++field) {
            text += field == 31 ? "  +12.5xyz\t" : (field == 30 ? "1e2\t" : "\t");
        }
        text += "ignored\r";
    }
    const std::optional<FrameData> frame = ParseTextFrame(text, 'K');
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->values[0], 125);   // field 31 is column 0
    EXPECT_EQ(frame->values[1], 1000);  // field 30 is column 1
    EXPECT_EQ(frame->values[2], 0);     // empty field reads as 0
}

// Every field the renderer can write, in every unit, and fixed-point fields of every shape
// around the reader's shortcuts (whole quotients of the volt conversion, the Celsius zero, digit
// limits, signs), plus malformed fields and forms only strtod reads, parsed in every file mode
// against strtod and the inverse conversions.
TEST(TextFrame, ParsedValuesEqualStrtodWithTheInverseConversions) {
    std::vector<std::string> pool;
    for (int v = 0; v < 65536; ++v) {
        const auto value = static_cast<uint16_t>(v);
        for (const int unit : {kUnitKelvin, kUnitCelsius, kUnitFahrenheit}) {
            pool.emplace_back(TemperatureFieldText(value, unit));
        }
        pool.emplace_back(VoltageFieldText(value));
    }
    std::mt19937 random(5);
    for (int i = 0; i < 40000; ++i) {
        std::string field = i % 3 == 0 ? "" : (i % 3 == 1 ? "+" : "-");
        const int whole = static_cast<int>(random() % 10);
        const int decimals = static_cast<int>(random() % 8);
        for (int d = 0; d < whole; ++d) {
            field += static_cast<char>('0' + random() % 10);
        }
        if (decimals > 0 || random() % 2 == 0) {
            field += '.';
        }
        for (int d = 0; d < decimals; ++d) {
            field += static_cast<char>('0' + random() % 10);
        }
        pool.push_back(field);
    }
    for (int k = -3000; k <= 3000; ++k) {
        pool.push_back(Printf("%+.4f", k * 0.1221));  // quotients that are whole counts
        pool.push_back(Printf("%+.0f", k * 1221.0));
        pool.push_back(Printf("%+.2f", k * 12.21));
        pool.push_back(Printf("%+.1f", k / 10.0 - 273.15));  // around the Celsius zero
        pool.push_back(Printf("%+.0f", k - 273.0));
    }
    for (const char* odd :
         {"", ".", "+", "-", "-0.0", "-0.0000", " +1.5", "\v2.5", "1e2", "-1.5E-1", "+.5", "5.",
          "+12.5xyz", "abc", "99999999", "999999999", "12345678.9", "0.000000001", "-99999.999",
          "00000000000000000001.5",
          // Two signs or a sign apart from its digits: no number, 0 (2731 in a Celsius frame).
          "+-1.0", "--5", "-+5", "++1", "+ 1", "- 2.5", "+-0",
          // Forms that only strtod reads: hexadecimal, infinities, NaN, exponents cut short,
          // numbers past the double range.
          "0x1A", "-0x1p4", "0x", "0x.8", "0X10", "inf", "-Infinity", "nan", "NAN(123)", "1e",
          "1e+", "4e1x", "1e999", "-1e999", "1e-999", "\f-7.5"}) {
        pool.emplace_back(odd);
    }
    pool.push_back(std::string(400, '9'));

    for (const char mode : {'V', 'K', 'C', 'F', 'X'}) {
        for (std::size_t first = 0; first < pool.size(); first += 33 * 32) {
            auto fieldAt = [&](int line, int index) -> const std::string& {
                return pool[(first + line * 32 + index) % pool.size()];
            };
            auto read = [](const std::string& field) {
                return std::strtod(field.c_str(), nullptr);
            };
            std::string text;
            for (int line = 0; line < 33; ++line) {
                for (int index = 0; index < 32; ++index) {
                    text += fieldAt(line, index) + "\t";
                }
                text += "\r\n";
            }
            const std::optional<FrameData> parsed = ParseTextFrame(text, mode);
            ASSERT_TRUE(parsed) << mode << " " << first;
            for (int r = 0; r < kFrameRows; ++r) {
                for (int c = 0; c < kFrameColumns; ++c) {
                    const std::string& field = fieldAt(r, 31 - c);
                    ASSERT_EQ(parsed->values[r * kFrameColumns + c],
                              ValueFromText(read(field), mode))
                        << mode << " \"" << field << "\"";
                }
            }
            for (int c = 0; c < kOffsetCount; ++c) {
                const std::string& field = fieldAt(31, 31 - c);
                ASSERT_EQ(parsed->offsets[c], CountsFromVolts(read(field)))
                    << "\"" << field << "\"";
            }
            for (int word = 0; word < kHeaderWordCount; ++word) {
                const std::string& field = fieldAt(32, word < 4 ? word : 16 + 2 * (word - 4));
                ASSERT_EQ(parsed->header[word], CountsFromVolts(read(field)))
                    << "\"" << field << "\"";
            }
        }
    }
}

TEST(TextFrame, TextStreamRecordEndsEveryLineInCrCrLf) {
    const std::string text = RenderVoltageText(FlatFrame(1000)).text;
    const std::string record = MakeTextStreamRecord('V', 'T', text);
    EXPECT_EQ(record.substr(0, 17), "Mode=V ElOff=T\r\r\n");
    std::size_t lineEnds = 0;
    for (std::size_t at = record.find('\n'); at != std::string::npos;
         at = record.find('\n', at + 1)) {
        ASSERT_GE(at, 2u);
        EXPECT_EQ(record.substr(at - 2, 3), "\r\r\n");
        ++lineEnds;
    }
    EXPECT_EQ(lineEnds, 34u);
    EXPECT_EQ(record.size(), text.size() + 16 + 34);
    EXPECT_EQ(TextStreamModeChar('t', kUnitKelvin), 'V');
    EXPECT_EQ(TextStreamModeChar('c', kUnitKelvin), 'V');
    EXPECT_EQ(TextStreamModeChar('K', kUnitKelvin), 'K');
    EXPECT_EQ(TextStreamModeChar('K', kUnitCelsius), 'C');
    EXPECT_EQ(TextStreamModeChar('k', 3), 'F');
}

}  // namespace
