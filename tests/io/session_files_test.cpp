#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/json_value.h"
#include "io/wav_file.h"

namespace {

// A WAV header written byte by byte here, independently of wavImage: 16-bit stereo at 44.1 kHz
// with a LIST chunk of odd length (padded) before the data, as many recorders write it.
std::vector<uint8_t> handMadeWav(uint16_t tag, uint16_t bits, uint32_t dataBytes) {
  const uint16_t channels = 2;
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  std::vector<uint8_t> w;
  const auto u16 = [&](uint32_t v) {
    w.push_back(static_cast<uint8_t>(v));
    w.push_back(static_cast<uint8_t>(v >> 8));
  };
  const auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const auto tag4 = [&](const char* t) { w.insert(w.end(), t, t + 4); };
  tag4("RIFF");
  u32(0);  // readers must not rely on the RIFF size
  tag4("WAVE");
  tag4("fmt ");
  u32(16);
  u16(tag);
  u16(channels);
  u32(44100);
  u32(44100u * align);
  u16(align);
  u16(bits);
  tag4("LIST");
  u32(3);
  w.insert(w.end(), {'a', 'b', 'c', 0});
  tag4("data");
  u32(dataBytes);
  for (uint32_t i = 0; i < dataBytes; ++i) w.push_back(static_cast<uint8_t>(i * 7));
  return w;
}

TEST(PcmWav, ReadsAHandMadeFileWithAPaddedChunkBeforeItsData) {
  PcmWav wav;
  ASSERT_EQ(parsePcmWav(handMadeWav(1, 16, 400), WavPart::kSamples, wav), "");
  EXPECT_EQ(wav.format, (PcmFormat{2, 44100, 16}));
  ASSERT_EQ(wav.bytes.size(), 400u);
  EXPECT_EQ(wav.bytes[399], static_cast<uint8_t>(399 * 7));
}

TEST(PcmWav, RefusesWhatIsNotPlainPcmOrIsCutShort) {
  PcmWav wav;
  EXPECT_NE(parsePcmWav(handMadeWav(3, 16, 400), WavPart::kSamples, wav), "");  // float
  EXPECT_NE(parsePcmWav(handMadeWav(1, 24, 400), WavPart::kSamples, wav), "");
  std::vector<uint8_t> cut = handMadeWav(1, 16, 400);
  cut.resize(cut.size() - 1);
  EXPECT_NE(parsePcmWav(cut, WavPart::kSamples, wav), "");
  EXPECT_NE(parsePcmWav(std::vector<uint8_t>(12, 0), WavPart::kSamples, wav), "");
  const std::vector<uint8_t> riffOnly = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  EXPECT_EQ(parsePcmWav(riffOnly, WavPart::kSamples, wav), "it has no format chunk");
}

TEST(PcmWav, AFileWrittenIsReadBackByteForByteAndNeverOverwritten) {
  char folder[] = "/tmp/wavtestXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/x.wav";
  std::vector<uint8_t> samples(1001);  // not a whole number of 16-bit stereo frames
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i);
  const PcmFormat format{2, 22050, 16};
  ASSERT_EQ(writeNewWavFile(path, format, samples), "");
  EXPECT_NE(writeNewWavFile(path, format, samples), "");  // exists already
  PcmWav wav;
  ASSERT_EQ(readPcmWavFile(path, 1 << 20, WavPart::kSamples, wav), "");
  EXPECT_EQ(wav.format, format);
  EXPECT_EQ(wav.bytes, samples);
  ASSERT_EQ(readPcmWavFile(path, 1 << 20, WavPart::kHeaderOnly, wav), "");
  EXPECT_EQ(wav.dataBytes, 1001u);
  EXPECT_TRUE(wav.bytes.empty());
  EXPECT_NE(readPcmWavFile(path, 100, WavPart::kSamples, wav), "");  // larger than allowed
  EXPECT_NE(readPcmWavFile(folder, 1 << 20, WavPart::kSamples, wav), "");
  std::remove(path.c_str());
  rmdir(folder);
}

TEST(JsonReader, ReadsNestedValuesEscapesAndNumbers) {
  std::string problem;
  const auto v =
      parseJson(R"( {"a":[1,-2.5e1,true,null],"s":"x\"\u00e9\n","o":{"n":4294967295}} )", problem);
  ASSERT_TRUE(v) << problem;
  const JsonValue* a = v->find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 4u);
  EXPECT_EQ(a->items[1].number, -25.0);
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_EQ(v->find("s")->text, "x\"\xc3\xa9\n");
  EXPECT_EQ(jsonUnsigned(*v->find("o"), "n", UINT32_MAX), 4294967295u);
  EXPECT_EQ(jsonUnsigned(*v->find("o"), "n", 100), std::nullopt);
  EXPECT_EQ(jsonUnsigned(*v, "s", 100), std::nullopt);
}

TEST(JsonReader, RefusesBrokenDocumentsWithAReason) {
  for (const char* text :
       {"", "{", "{\"a\":}", "[1,]", "{\"a\":1} x", "\"\\q\"", "01x", "nul", "1e999", "\"a\nb\""}) {
    std::string problem;
    EXPECT_FALSE(parseJson(text, problem)) << text;
    EXPECT_FALSE(problem.empty()) << text;
  }
  std::string deep(10000, '[');
  std::string problem;
  EXPECT_FALSE(parseJson(deep, problem));
  EXPECT_NE(problem.find("deep"), std::string::npos);
}

TEST(JsonReader, QuotedTextReadsBackAsItWas) {
  const std::string text = "a \"b\" \\ \n\x01 \xc3\xa9";
  std::string problem;
  const auto v = parseJson(jsonQuoted(text), problem);
  ASSERT_TRUE(v) << problem;
  EXPECT_EQ(v->text, text);
}

}  // namespace
