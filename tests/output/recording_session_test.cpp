#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/bounded_read.h"
#include "app/settings.h"
#include "output/sequence_synchronizer.h"
#include "tests/output/session_samples.h"
#include "tests/output/text_grid_samples.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

using test_support::readFile;
using test_support::writeFile;

std::string captured(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

std::vector<std::int16_t> readSamples(const std::string& path) {
    const std::string bytes = readFile(path);
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = static_cast<unsigned char>(bytes[i + 1]);
        samples.push_back(static_cast<std::int16_t>(low | (high << 8)));
    }
    return samples;
}

std::string formatted(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

class SessionTest : public ::testing::Test {
  protected:
    // Tests run in parallel in one directory: each works in a folder of its own name.
    void SetUp() override {
        output_test::initMapsOnce();
        dir = test_support::scratchDir("session_").string() + "/";
        output_test::useSessionSettings(dir);
        rebuild(output_test::SAMPLE_FEATURES, 37);
    }

    void rebuild(int features_num, int posteriors_num) {
        synchronizer.reset();
        synchronizer = std::make_unique<SequenceSynchronizer>(features_num, posteriors_num);
        synchronizer->reset();
    }

    std::string path(const std::string& name) const { return dir + name; }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::string open(bool expected = true) {
        return captured([&] { EXPECT_EQ(synchronizer->openSession(), expected); });
    }

    std::string close(bool strict = true) {
        return captured([&] { synchronizer->closeSession(strict); });
    }

    std::string praatBlock(const std::string& tag) const {
        return "Read Sound from raw 16-bit Little Endian file... " + dir + tag +
               "_signal.raw\nOverride sampling frequency... 16000\nRead from file... " + dir + tag +
               ".TextGrid\n\n";
    }

    // The TextGrid the session's codes give with `final` false.
    std::string expectedTextGrid() {
        EXPECT_TRUE(synchronizer->buildTextGrid(path("expected.TextGrid"), false));
        const std::string text = readFile(path("expected.TextGrid"));
        std::filesystem::remove(path("expected.TextGrid"));
        return text;
    }

    output_test::SettingsGuard settings;
    std::string dir;
    std::unique_ptr<SequenceSynchronizer> synchronizer;
};

TEST_F(SessionTest, WorkedExampleOfOneSession) {
    writeFile(path("ses_num.txt"), "4");
    EXPECT_EQ(open(), "current session is: 5\n");
    output_test::recordFrames(*synchronizer, 250, 250);
    EXPECT_EQ(close(true), "Session 5 closed with 250 wins.\n");

    EXPECT_EQ(files(), (std::set<std::string>{"00005_signal.raw", "00005_features.csv",
                                              "00005_speech_post.csv", "00005.TextGrid",
                                              "ses_num.txt", "load_files.praat"}));
    const std::vector<std::int16_t> samples = readSamples(path("00005_signal.raw"));
    ASSERT_EQ(samples.size(), 250u * 160u);
    ASSERT_EQ(std::filesystem::file_size(path("00005_signal.raw")), 250u * 320u);
    for (int frame = 0; frame < 250; ++frame)
        for (int i = 0; i < 160; ++i)
            ASSERT_EQ(samples[frame * 160 + i], output_test::sampleAt(frame, i)) << frame;
    std::string features, speech_post;
    for (int frame = 0; frame < 250; ++frame) {
        for (int i = 0; i < 39; ++i) features += formatted(output_test::featureAt(frame, i)) + "\t";
        features += "\n";
        speech_post += formatted(output_test::speechPostAt(frame)) + "\n";
    }
    EXPECT_EQ(readFile(path("00005_features.csv")), features);
    EXPECT_EQ(readFile(path("00005_speech_post.csv")), speech_post);
    EXPECT_EQ(readFile(path("ses_num.txt")), "5");
    const std::string grid = readFile(path("00005.TextGrid"));
    EXPECT_NE(grid.find("\nsize = 3\n"), std::string::npos);
    EXPECT_NE(grid.find("\nxmax = 2.4975\n"), std::string::npos);
    EXPECT_EQ(grid, expectedTextGrid());
    EXPECT_EQ(readFile(path("load_files.praat")), praatBlock("00005"));

    EXPECT_EQ(open(), "current session is: 6\n");
}

TEST_F(SessionTest, UnsynchronisedChannelsAreListedAndStillSaved) {
    for (const bool strict : {true, false}) {
        writeFile(path("ses_num.txt"), "4");
        std::filesystem::remove(path("load_files.praat"));
        EXPECT_EQ(open(), "current session is: 5\n");
        output_test::recordFrames(*synchronizer, 250, 249);
        EXPECT_EQ(close(strict),
                  std::string(strict ? "ERROR: channels are of different length in "
                                       "SequenceSynchronizer::closeSession()\n"
                                     : "Information channels do not have to be synchronized:\n") +
                      "signal_count = 250\n"
                      "features_count = 249\n"
                      "speech_det_vec.size() = 250\n"
                      "posteriors_count = 0\n"
                      "speech_post_count = 250\n"
                      "speech_post_smoothed_count = 0\n"
                      "nbest_str_vec[0].size() = 0\n"
                      "Session 5 closed\n");
        EXPECT_EQ(readFile(path("ses_num.txt")), "5");
        EXPECT_EQ(readFile(path("00005.TextGrid")), expectedTextGrid());
        EXPECT_EQ(readFile(path("load_files.praat")), praatBlock("00005"));
        EXPECT_EQ(std::filesystem::file_size(path("00005_signal.raw")), 250u * 320u);
    }
}

TEST_F(SessionTest, EachGroupIsCheckedOnItsOwn) {
    write_text_grid = false;
    write_praat_script = false;
    nbest_num = 1;
    const struct {
        int signal, features, codes, posteriors, speech_post, smoothed, nbest;
        const char* console;
    } cases[] = {
        {0, 0, 0, 0, 0, 0, 0, "Session 1 closed with 0 wins.\n"},
        {250, 0, 0, 0, 240, 0, 0, "Session 1 closed with 240 wins.\n"},
        {0, 7, 0, 0, 0, 0, 0, "Session 1 closed with 7 wins.\n"},
        {0, 0, 3, 0, 0, 3, 3, "Session 1 closed with 3 wins.\n"},
        {5, 0, 4, 0, 0, 0, 0,
         "ERROR: channels are of different length in SequenceSynchronizer::closeSession()\n"
         "signal_count = 5\nfeatures_count = 0\nspeech_det_vec.size() = 4\n"
         "posteriors_count = 0\nspeech_post_count = 0\nspeech_post_smoothed_count = 0\n"
         "nbest_str_vec[0].size() = 0\nSession 1 closed\n"},
        {0, 0, 0, 3, 0, 0, 2,
         "ERROR: channels are of different length in SequenceSynchronizer::closeSession()\n"
         "signal_count = 0\nfeatures_count = 0\nspeech_det_vec.size() = 0\n"
         "posteriors_count = 3\nspeech_post_count = 0\nspeech_post_smoothed_count = 0\n"
         "nbest_str_vec[0].size() = 2\nSession 1 closed\n"},
    };
    const std::vector<double> values(160, 0.25);
    for (const auto& c : cases) {
        writeFile(path("ses_num.txt"), "0");
        EXPECT_EQ(open(), "current session is: 1\n");
        for (int i = 0; i < c.signal; ++i) synchronizer->addSignal(values.data());
        for (int i = 0; i < c.features; ++i) synchronizer->addFeatures(values.data());
        for (int i = 0; i < c.codes; ++i) synchronizer->addSpeechDet(true, true, true);
        for (int i = 0; i < c.posteriors; ++i) synchronizer->addPosteriors(values.data());
        for (int i = 0; i < c.speech_post; ++i) synchronizer->addSpeechPost(0.5);
        for (int i = 0; i < c.smoothed; ++i) synchronizer->addSpeechPostSmoothed(0.5);
        synchronizer->addNBest({NBestString(c.nbest, 0)});
        EXPECT_EQ(close(), c.console);
    }
}

TEST(SessionNumber, FiveDigitTags) {
    const struct {
        int number;
        const char* tag;
        bool warns;
    } cases[] = {
        {0, "00000", false},      {9, "00009", false},     {10, "00010", false},
        {99, "00099", false},     {100, "00100", false},   {9999, "09999", false},
        {10000, "10000", false},  {99999, "99999", false}, {100000, "00000", true},
        {INT_MAX, "00000", true},
    };
    for (const auto& c : cases) {
        std::string tag;
        EXPECT_EQ(captured([&] { tag = SequenceSynchronizer::formatSessionNumber(c.number); }),
                  c.warns ? "WARNING: session number exeeded. Starting from 0\n" : "");
        EXPECT_EQ(tag, c.tag) << c.number;
    }
}

TEST_F(SessionTest, SessionsAbove99999UseTheTagOfZero) {
    const std::string warning = "WARNING: session number exeeded. Starting from 0\n";
    writeFile(path("ses_num.txt"), "99999");
    EXPECT_EQ(open(), "current session is: 100000\n");
    EXPECT_EQ(captured([&] { output_test::recordFrames(*synchronizer, 1, 0); }),
              warning + warning);  // the signal and speech posterior files
    EXPECT_EQ(close(), "Session 100000 closed with 1 wins.\n" + warning + warning + warning);
    EXPECT_EQ(readFile(path("ses_num.txt")), "100000");
    EXPECT_EQ(files(),
              (std::set<std::string>{"00000_signal.raw", "00000_speech_post.csv", "00000.TextGrid",
                                     "ses_num.txt", "load_files.praat"}));
    EXPECT_EQ(readFile(path("load_files.praat")), praatBlock("00000"));
}

TEST_F(SessionTest, CounterFileContents) {
    const std::string counter = path("ses_num.txt");
    const std::string out_of_range =
        "WARNING: session counter out of range in " + counter + ". Starting from 0\n";
    const std::string over_long(MAX_TOKEN_BYTES + 1, '7');
    const struct {
        const char* text;  // null: no file
        bool read;
        int session;
        std::string console;
    } cases[] = {
        {nullptr, false, 1, "WARNING: file recreated: " + counter + "\n"},
        {"41 and more", true, 42, ""},
        {"", true, 1, ""},
        {"no number", true, 1, ""},
        {" \n\t7\n", true, 8, ""},
        {"0", true, 1, ""},
        {"2147483646", true, INT_MAX, ""},
        {"-5", true, -4, ""},
        {"-2147483648", true, INT_MIN + 1, ""},
        {"2147483647", true, 1, out_of_range},
        {"99999999999999999999999", true, 1, out_of_range},
        {"-99999999999999999999999", true, INT_MIN + 1, ""},
        {over_long.c_str(), true, 1, out_of_range},
    };
    write_text_grid = false;
    write_praat_script = false;
    for (const auto& c : cases) {
        std::filesystem::remove(counter);
        if (c.text) writeFile(counter, c.text);
        const std::string number = std::to_string(c.session);
        EXPECT_EQ(open(c.read), c.console + "current session is: " + number + "\n")
            << (c.text ? c.text : "no file");
        if (!c.text) {
            EXPECT_EQ(readFile(counter), "0");
        }
        captured([&] { synchronizer->closeSession(true); });
        EXPECT_EQ(readFile(counter), number);
    }
}

TEST_F(SessionTest, RecreatedCounterGivesSessionOneTwiceWithoutClose) {
    EXPECT_EQ(open(false),
              "WARNING: file recreated: " + path("ses_num.txt") + "\ncurrent session is: 1\n");
    EXPECT_EQ(readFile(path("ses_num.txt")), "0");
    EXPECT_EQ(open(true), "current session is: 1\n");
}

TEST_F(SessionTest, CounterInAMissingDirectory) {
    ses_num_dir = dir + "no_such_dir/";
    write_text_grid = false;
    write_praat_script = false;
    const std::string counter = ses_num_dir + "ses_num.txt";
    EXPECT_EQ(open(false), "WARNING: file recreated: " + counter +
                               "\nERROR: cannot create: " + counter + "\ncurrent session is: 1\n");
    EXPECT_EQ(close(), "ERROR: cannot create: " + counter + "\nSession 1 closed with 0 wins.\n");
    EXPECT_FALSE(std::filesystem::exists(ses_num_dir));
}

TEST_F(SessionTest, SessionNeverClosedLosesNoFrame) {
    writeFile(path("ses_num.txt"), "4");
    const std::vector<double> values(160, 1.0);
    const auto recordAll = [&](int frames) {
        for (int frame = 0; frame < frames; ++frame) {
            synchronizer->addSignal(values.data());
            synchronizer->addFeatures(values.data());
            synchronizer->addPosteriors(values.data());
            synchronizer->addSpeechPost(frame);
            synchronizer->addSpeechPostSmoothed(frame);
            synchronizer->addSpeechDet(true, true, true);
        }
    };
    const std::string console = captured([&] {
        synchronizer->openSession();
        recordAll(3);
        synchronizer->openSession();
        recordAll(2);
        synchronizer->closeSession(true);
    });
    EXPECT_EQ(console,
              "current session is: 5\ncurrent session is: 5\nSession 5 closed with 2 wins.\n");
    EXPECT_EQ(readFile(path("00005_speech_post.csv")), "0\n1\n");
    EXPECT_EQ(readFile(path("00005_speech_post_smoothed.csv")), "0\n1\n");
    EXPECT_EQ(std::filesystem::file_size(path("00005_signal.raw")), 2u * 320u);
    EXPECT_EQ(std::filesystem::file_size(path("00005_features.csv")), 2u * (39u * 2u + 1u));
    EXPECT_EQ(std::filesystem::file_size(path("00005_posteriors.csv")), 2u * (37u * 2u + 1u));
}

TEST_F(SessionTest, NothingHappensBeforeTheFirstSession) {
    const std::vector<double> values(160, 1.0);
    EXPECT_EQ(captured([&] {
                  synchronizer->addSignal(values.data());
                  synchronizer->addFeatures(values.data());
                  synchronizer->addPosteriors(values.data());
                  synchronizer->addSpeechPost(0.5);
                  synchronizer->addSpeechPostSmoothed(0.5);
                  synchronizer->closeSession(true);
              }),
              "ERROR: no session opened before SequenceSynchronizer::addSignal()\n"
              "ERROR: no session opened before SequenceSynchronizer::addFeatures()\n"
              "ERROR: no session opened before SequenceSynchronizer::addPosteriors()\n"
              "ERROR: no session opened before SequenceSynchronizer::addSpeechPost()\n"
              "ERROR: no session opened before SequenceSynchronizer::addSpeechPostSmoothed()\n"
              "ERROR: no session opened before SequenceSynchronizer::closeSession()\n");
    EXPECT_TRUE(files().empty());
    writeFile(path("ses_num.txt"), "0");
    EXPECT_EQ(open(), "current session is: 1\n");
    synchronizer->addSpeechPost(0.5);
    EXPECT_EQ(close(), "Session 1 closed with 1 wins.\n");
}

TEST_F(SessionTest, SignalKeepsTheLow16BitsOfTheIntegerPart) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        std::int16_t stored;
    } cases[] = {
        {32767.9, 32767},
        {-32768.5, -32768},
        {-0.7, 0},
        {-1.9, -1},
        {32768.0, -32768},
        {65536.0, 0},
        {65537.5, 1},
        {2147483647.9, -1},
        {-2147483648.9, 0},
        {2147483648.0 + 32767.0, 32767},  // beyond 32 bits: the same rule
        {-2147483649.0, -1},
        {4294967296.0 * 3.0 + 12345.0, 12345},
        {-4294967296.0 - 3.0, -3},
        {1e300, 0},
        {nan, 0},
        {inf, 0},
        {-inf, 0},
    };
    signal_frame_len = static_cast<int>(std::size(cases));
    std::vector<double> values;
    for (const auto& c : cases) values.push_back(c.value);
    rebuild(0, 0);
    writeFile(path("ses_num.txt"), "0");
    open();
    synchronizer->addSignal(values.data());
    close();
    const std::vector<std::int16_t> stored = readSamples(path("00001_signal.raw"));
    ASSERT_EQ(stored.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(stored[i], cases[i].stored) << cases[i].value;
}

TEST_F(SessionTest, TextDumpsWriteTheStreamsNumberFormat) {
    const double values[] = {0.5, 0.0000125, 1234567.0, 123456.0, 1.0};
    rebuild(5, 2);
    writeFile(path("ses_num.txt"), "0");
    open();
    for (int frame = 0; frame < 2; ++frame) {
        synchronizer->addFeatures(values);
        synchronizer->addPosteriors(values + 3);
        synchronizer->addSpeechPostSmoothed(values[1 + frame]);
    }
    close();
    EXPECT_EQ(readFile(path("00001_features.csv")),
              "0.5\t1.25e-05\t1.23457e+06\t123456\t1\t\n0.5\t1.25e-05\t1.23457e+06\t123456\t1\t\n");
    EXPECT_EQ(readFile(path("00001_posteriors.csv")), "123456\t1\t\n123456\t1\t\n");
    EXPECT_EQ(readFile(path("00001_speech_post_smoothed.csv")), "1.25e-05\n1.23457e+06\n");
}

TEST_F(SessionTest, EmptyRowsAndEmptySignalFrames) {
    signal_frame_len = 0;
    rebuild(0, 0);
    writeFile(path("ses_num.txt"), "0");
    open();
    for (int frame = 0; frame < 3; ++frame) {
        synchronizer->addSignal(nullptr);
        synchronizer->addFeatures(nullptr);
        synchronizer->addPosteriors(nullptr);
    }
    EXPECT_EQ(close(), "Session 1 closed with 3 wins.\n");
    EXPECT_EQ(std::filesystem::file_size(path("00001_signal.raw")), 0u);
    EXPECT_EQ(readFile(path("00001_features.csv")), "\n\n\n");
    EXPECT_EQ(readFile(path("00001_posteriors.csv")), "\n\n\n");
    EXPECT_EQ(readFile(path("load_files.praat")), praatBlock("00001"));
}

TEST_F(SessionTest, ClosedSessionKeepsItsValues) {
    writeFile(path("ses_num.txt"), "4");
    open();
    for (int frame = 0; frame < 2; ++frame) {
        synchronizer->addSpeechPost(frame);
        synchronizer->addSpeechDet(false, false, true);
    }
    EXPECT_EQ(close(), "Session 5 closed with 2 wins.\n");
    const std::string grid = readFile(path("00005.TextGrid"));
    // A channel in use writes nowhere but counts; an unused one opens a file
    // under the closed session's tag.
    synchronizer->addSpeechPost(7);
    synchronizer->addPosteriors(std::vector<double>(37, 0.0).data());
    EXPECT_EQ(close(false),
              "Information channels do not have to be synchronized:\n"
              "signal_count = 0\nfeatures_count = 0\nspeech_det_vec.size() = 2\n"
              "posteriors_count = 1\nspeech_post_count = 3\nspeech_post_smoothed_count = 0\n"
              "nbest_str_vec[0].size() = 0\nSession 5 closed\n");
    EXPECT_EQ(readFile(path("00005_speech_post.csv")), "0\n1\n");
    EXPECT_EQ(std::filesystem::file_size(path("00005_posteriors.csv")), 37u * 2u + 1u);
    EXPECT_EQ(readFile(path("ses_num.txt")), "5");
    EXPECT_EQ(readFile(path("00005.TextGrid")), grid);
    const std::string block = "Read from file... " + dir + "00005.TextGrid\n\n";
    EXPECT_EQ(readFile(path("load_files.praat")), block + block);
}

TEST_F(SessionTest, ResetZeroesTheCounts) {
    writeFile(path("ses_num.txt"), "0");
    open();
    synchronizer->addSpeechPost(0.5);
    synchronizer->addSpeechDet(true, true, true);
    synchronizer->reset();
    EXPECT_EQ(close(), "Session 1 closed with 0 wins.\n");
}

TEST_F(SessionTest, PraatScriptGrowsByOneBlockPerSession) {
    writeFile(path("load_files.praat"), "old\n");
    writeFile(path("ses_num.txt"), "0");
    open();
    output_test::recordFrames(*synchronizer, 3, 3);
    close();
    write_text_grid = false;
    open();
    close();
    EXPECT_EQ(readFile(path("load_files.praat")), "old\n" + praatBlock("00001") + "\n");
    EXPECT_FALSE(std::filesystem::exists(path("00002.TextGrid")));
}

TEST_F(SessionTest, UncreatableFilesAreReportedInOrder) {
    out_prefix = dir + "no_such_dir/";
    const std::string prefix = out_prefix;
    writeFile(path("ses_num.txt"), "0");
    open();
    EXPECT_EQ(captured([&] {
                  synchronizer->addSpeechPost(0.5);
                  synchronizer->addSpeechPost(0.5);
              }),
              "ERROR: cannot create: " + prefix + "00001_speech_post.csv\n" +
                  "ERROR: cannot create: " + prefix + "00001_speech_post.csv\n");
    EXPECT_EQ(close(), "Session 1 closed with 0 wins.\nERROR: cannot save TextGrid to: " + prefix +
                           "00001.TextGrid\nERROR: cannot save Praat script to: " + prefix +
                           "load_files.praat\n");
    EXPECT_EQ(readFile(path("ses_num.txt")), "1");
}

TEST_F(SessionTest, DestructionClosesTheDumpsAndWritesNothingElse) {
    writeFile(path("ses_num.txt"), "4");
    open();
    output_test::recordFrames(*synchronizer, 3, 3);
    synchronizer.reset();
    EXPECT_EQ(std::filesystem::file_size(path("00005_signal.raw")), 3u * 320u);
    EXPECT_EQ(readFile(path("00005_speech_post.csv")), "0\n0.004\n0.008\n");
    EXPECT_EQ(readFile(path("ses_num.txt")), "4");
    EXPECT_EQ(files(), (std::set<std::string>{"00005_signal.raw", "00005_features.csv",
                                              "00005_speech_post.csv", "ses_num.txt"}));
}

}  // namespace
}  // namespace tarvik
