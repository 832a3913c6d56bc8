// The recording sessions of SequenceSynchronizer: the session counter, the five
// per-frame dump channels and the closing of a session.
#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <locale>
#include <ostream>
#include <span>
#include <sstream>

#include "app/bounded_read.h"
#include "app/console.h"
#include "app/settings.h"
#include "app/strings.h"
#include "frontend/signal.h"
#include "output/sequence_synchronizer.h"

namespace tarvik {
namespace {

const char* const COUNTER_FILE_NAME = "ses_num.txt";
const char* const PRAAT_SCRIPT_NAME = "load_files.praat";

// The low 16 bits of the integer part of `value`, as two's complement. Beyond
// the 32-bit range the same rule holds (the integer part taken modulo 65536);
// NaN and infinities give 0.
std::int16_t toSample(double value) {
    if (value > -2147483649.0 && value < 2147483648.0) {
        return static_cast<std::int16_t>(static_cast<std::int32_t>(value));
    }
    if (!std::isfinite(value)) return 0;
    double wrapped = std::fmod(std::trunc(value), 65536.0);  // exact
    if (wrapped < 0) wrapped += 65536.0;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(wrapped));
}

std::int16_t toLittleEndian(std::int16_t sample) {
    if constexpr (std::endian::native == std::endian::big) {
        const auto bits = static_cast<std::uint16_t>(sample);
        return static_cast<std::int16_t>(static_cast<std::uint16_t>((bits << 8) | (bits >> 8)));
    }
    return sample;
}

void writeRow(std::ostream& out, const double* values, int count) {
    for (int i = 0; i < count; ++i) out << values[i] << '\t';
    out << '\n';
}

// The number after the counter file's number, read as stream extraction reads an int from its
// first token: a file that does not begin with a number counts as 0, one beyond the range of an
// int as its nearest end. A number whose successor does not fit an int, or a token too long to
// be read, counts as 0 after a warning.
int nextSessionNumber(std::istream& in, const std::string& path) {
    in.imbue(std::locale::classic());
    std::string token;
    const bool read = readToken(in, token);
    long long last = 0;
    if (read) {
        std::istringstream number(token);
        number.imbue(std::locale::classic());
        number >> last;  // stays 0 when no number is read, saturates beyond its range
    }
    if ((!read && token.size() == MAX_TOKEN_BYTES) || last >= INT_MAX) {
        logLine(log_channel,
                "WARNING: session counter out of range in " + path + ". Starting from 0");
        last = 0;
    }
    return static_cast<int>(std::max<long long>(last, INT_MIN)) + 1;
}

struct GroupCheck {
    int reference = 0;  // the first length in use, 0 when none is
    bool passes = true;
};

// Lengths of 0 belong to channels not in use and are skipped.
GroupCheck checkGroup(std::span<const int> lengths) {
    GroupCheck check;
    for (const int length : lengths) {
        if (length == 0) continue;
        if (check.reference == 0) {
            check.reference = length;
        } else if (length != check.reference) {
            check.passes = false;
        }
    }
    return check;
}

const char* const LENGTH_LABELS[] = {
    "signal_count = ",
    "features_count = ",
    "speech_det_vec.size() = ",
    "posteriors_count = ",
    "speech_post_count = ",
    "speech_post_smoothed_count = ",
    "nbest_str_vec[0].size() = ",
};
constexpr std::size_t FIRST_GROUP_SIZE = 3;  // signal, features, decision codes

}  // namespace

std::string SequenceSynchronizer::formatSessionNumber(int number) {
    if (number > 99999) {
        logLine(log_channel, "WARNING: session number exeeded. Starting from 0");
        number = 0;
    }
    const char* prefix = number <= 9      ? "0000"
                         : number <= 99   ? "000"
                         : number <= 999  ? "00"
                         : number <= 9999 ? "0"
                                          : "";
    return prefix + intToString(number);
}

bool SequenceSynchronizer::openSession() {
    ses_num_path = ses_num_dir + COUNTER_FILE_NAME;
    // A session that was never closed leaves its files open; the new one would
    // fail to reopen them and lose a frame per channel.
    closeOpenChannels();
    reset();
    if (nbest_num > 0) nbest_str_vec.resize(nbest_num);
    bool read = false;
    std::ifstream counter(ses_num_path);
    if (counter.is_open()) {
        session_num = nextSessionNumber(counter, ses_num_path);
        read = true;
    } else {
        logLine(log_channel, "WARNING: file recreated: " + ses_num_path);
        writeCounterFile("0");
        session_num = 1;
    }
    logLine(log_channel, "current session is: " + intToString(*session_num));
    return read;
}

bool SequenceSynchronizer::openChannel(std::ofstream& file, int count, const char* suffix,
                                       const char* operation, std::ios::openmode mode) {
    if (!session_num) {
        logLine(log_channel, std::string("ERROR: no session opened before SequenceSynchronizer::") +
                                 operation + "()");
        return false;
    }
    if (count != 0) return true;
    const std::string name = out_prefix + formatSessionNumber(*session_num) + suffix;
    file.clear();
    file.open(name, mode | std::ios::out | std::ios::trunc);
    if (file.is_open()) return true;
    logLine(log_channel, "ERROR: cannot create: " + name);
    file.close();
    return false;
}

void SequenceSynchronizer::addSignal(const double* samples) {
    if (!openChannel(signal_file, signal_count, "_signal.raw", "addSignal", std::ios::binary)) {
        return;
    }
    sample_buf.resize(signal_frame_len > 0 ? signal_frame_len : 0);
    for (std::size_t i = 0; i < sample_buf.size(); ++i) {
        sample_buf[i] = toLittleEndian(toSample(samples[i]));
    }
    signal_file.write(reinterpret_cast<const char*>(sample_buf.data()),
                      static_cast<std::streamsize>(sample_buf.size() * sizeof(std::int16_t)));
    ++signal_count;
}

void SequenceSynchronizer::addFeatures(const double* values) {
    if (!openChannel(features_file, features_count, "_features.csv", "addFeatures", {})) return;
    writeRow(features_file, values, features_num);
    ++features_count;
}

void SequenceSynchronizer::addPosteriors(const double* values) {
    if (!openChannel(posteriors_file, posteriors_count, "_posteriors.csv", "addPosteriors", {})) {
        return;
    }
    writeRow(posteriors_file, values, posteriors_num);
    ++posteriors_count;
}

void SequenceSynchronizer::addSpeechPost(double value) {
    if (!openChannel(speech_post_file, speech_post_count, "_speech_post.csv", "addSpeechPost",
                     {})) {
        return;
    }
    speech_post_file << value << '\n';
    ++speech_post_count;
}

void SequenceSynchronizer::addSpeechPostSmoothed(double value) {
    if (!openChannel(speech_post_smoothed_file, speech_post_smoothed_count,
                     "_speech_post_smoothed.csv", "addSpeechPostSmoothed", {})) {
        return;
    }
    speech_post_smoothed_file << value << '\n';
    ++speech_post_smoothed_count;
}

void SequenceSynchronizer::closeOpenChannels() {
    for (std::ofstream* file : {&signal_file, &features_file, &posteriors_file, &speech_post_file,
                                &speech_post_smoothed_file}) {
        if (file->is_open()) file->close();
    }
}

void SequenceSynchronizer::writeCounterFile(const std::string& text) const {
    std::ofstream counter(ses_num_path, std::ios::out | std::ios::trunc);
    if (counter.is_open()) {
        counter << text;
    } else {
        logLine(log_channel, "ERROR: cannot create: " + ses_num_path);
    }
}

void SequenceSynchronizer::closeSession(bool strict) {
    if (!session_num) {
        logLine(log_channel,
                "ERROR: no session opened before SequenceSynchronizer::closeSession()");
        return;
    }
    const std::pair<std::ofstream*, int> channels[] = {
        {&signal_file, signal_count},
        {&features_file, features_count},
        {&posteriors_file, posteriors_count},
        {&speech_post_file, speech_post_count},
        {&speech_post_smoothed_file, speech_post_smoothed_count},
    };
    for (const auto& [file, count] : channels) {
        if (count != 0) file->close();
    }
    writeCounterFile(intToString(*session_num));
    logChannelLengths(strict);
    buildTextGrid(out_prefix + formatSessionNumber(*session_num) + ".TextGrid", false);
    if (write_praat_script) appendPraatScript();
}

void SequenceSynchronizer::logChannelLengths(bool strict) const {
    const int lengths[] = {
        signal_count,
        features_count,
        static_cast<int>(speech_det_vec.size()),
        posteriors_count,
        speech_post_count,
        speech_post_smoothed_count,
        nbest_str_vec.empty() ? 0 : static_cast<int>(nbest_str_vec[0].size()),
    };
    const std::span<const int> all(lengths);
    const GroupCheck first = checkGroup(all.first(FIRST_GROUP_SIZE));
    const GroupCheck second = checkGroup(all.subspan(FIRST_GROUP_SIZE));
    const std::string session = "Session " + intToString(*session_num);
    if (first.passes && second.passes) {
        const int wins = second.reference != 0 ? second.reference : first.reference;
        logLine(log_channel, session + " closed with " + intToString(wins) + " wins.");
        return;
    }
    logLine(log_channel, strict ? "ERROR: channels are of different length in "
                                  "SequenceSynchronizer::closeSession()"
                                : "Information channels do not have to be synchronized:");
    for (std::size_t i = 0; i < all.size(); ++i) {
        logLine(log_channel, LENGTH_LABELS[i] + intToString(lengths[i]));
    }
    logLine(log_channel, session + " closed");
}

void SequenceSynchronizer::appendPraatScript() const {
    std::string text;
    if (signal_count != 0) {
        text += "Read Sound from raw 16-bit Little Endian file... " + out_prefix +
                formatSessionNumber(*session_num) + "_signal.raw\n" +
                "Override sampling frequency... " + intToString(Signal::SAMP_FREQ) + "\n";
    }
    if (write_text_grid) {
        text +=
            "Read from file... " + out_prefix + formatSessionNumber(*session_num) + ".TextGrid\n";
    }
    text += "\n";
    const std::string path = out_prefix + PRAAT_SCRIPT_NAME;
    std::ofstream script(path, std::ios::out | std::ios::app);
    if (script.is_open()) {
        script << text;
    } else {
        logLine(log_channel, "ERROR: cannot save Praat script to: " + path);
    }
}

}  // namespace tarvik
