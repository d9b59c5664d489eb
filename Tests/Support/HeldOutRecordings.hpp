#pragma once

// The trained test model's held-out recordings (Tests/Data/testmodel/transcripts.tsv): file,
// language, speech start and end in seconds, and the words spoken.

#include "Support/TestEnvironment.hpp"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::test {

struct Recording {
    std::string file, language, text;
    double start = 0, end = 0;
};

inline std::vector<Recording> heldOutRecordings() {
    std::ifstream in(dataPath("testmodel/transcripts.tsv"));
    std::vector<Recording> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Recording r;
        std::string start, end;
        std::getline(fields, r.file, '\t');
        std::getline(fields, r.language, '\t');
        std::getline(fields, start, '\t');
        std::getline(fields, end, '\t');
        std::getline(fields, r.text);
        r.start = std::stod(start);
        r.end = std::stod(end);
        out.push_back(r);
    }
    return out;
}

/// The words spoken in the held-out recording of that file name ("" for no such recording).
inline std::string heldOutText(const std::string& file) {
    for (const Recording& recording : heldOutRecordings()) {
        if (recording.file == file) return recording.text;
    }
    return {};
}

}  // namespace velmora::test
