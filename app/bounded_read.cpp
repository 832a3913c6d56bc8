#include "app/bounded_read.h"

namespace tarvik {

namespace {

bool isSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool fail(std::istream& in) {
    in.setstate(std::ios::failbit);
    return false;
}

// The stream functions catch what a stream buffer throws (std::filebuf throws when a read fails:
// a directory, an I/O error) and set badbit; the readers below call the buffer directly and do
// the same.
template <typename Read>
bool guarded(std::istream& in, Read read) {
    try {
        return read();
    } catch (...) {
        in.setstate(std::ios::badbit);
        return false;
    }
}

bool takeToken(std::istream& in, std::string& token) {
    std::streambuf* buffer = in.rdbuf();
    if (!in.good() || buffer == nullptr) return fail(in);
    using traits = std::istream::traits_type;
    int c = buffer->sgetc();
    while (c != traits::eof() && isSpace(c)) c = buffer->snextc();
    while (c != traits::eof() && !isSpace(c)) {
        if (token.size() == MAX_TOKEN_BYTES) return fail(in);
        token.push_back(traits::to_char_type(c));
        c = buffer->snextc();
    }
    if (c == traits::eof()) in.setstate(std::ios::eofbit);
    return token.empty() ? fail(in) : true;
}

bool takeLine(std::istream& in, std::string& line) {
    std::streambuf* buffer = in.rdbuf();
    if (!in.good() || buffer == nullptr) return fail(in);
    using traits = std::istream::traits_type;
    for (int c = buffer->sbumpc(); c != '\n'; c = buffer->sbumpc()) {
        if (c == traits::eof()) {
            in.setstate(std::ios::eofbit);
            return line.empty() ? fail(in) : true;
        }
        if (line.size() == MAX_TOKEN_BYTES) return fail(in);
        line.push_back(traits::to_char_type(c));
    }
    return true;
}

}  // namespace

bool readToken(std::istream& in, std::string& token) {
    token.clear();
    return guarded(in, [&] { return takeToken(in, token); });
}

bool readLine(std::istream& in, std::string& line) {
    line.clear();
    return guarded(in, [&] { return takeLine(in, line); });
}

}  // namespace tarvik
