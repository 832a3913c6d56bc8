// Process-wide settings with compiled-in defaults. Nothing but `main` assigns
// any of them (it turns `write_text_grid` on); with the defaults the optional
// output facilities stay off.
#pragma once

#include <string>

namespace tarvik {

inline int log_channel = 0;        // console channel handed to logLine
inline int signal_frame_len = 0;   // samples per call of the signal dump
inline int sync_features_num = 0;  // feature values per row of the feature dump
inline std::string out_prefix;     // path prefix of the session files
inline std::string ses_num_dir;    // path prefix of the session counter file
inline int nbest_num = 0;          // hypotheses per frame
inline bool write_praat_script = false;
inline bool write_hypo_tiers = false;
inline bool write_text_grid = false;

}  // namespace tarvik
