// What the startup sequence sees of the splash window (frmSplash): its caption,
// the status label and the progress bar. The real window implements it on each
// platform; the recording fake of the tests implements it to write a transcript.
#pragma once

#include <string>

namespace kalv::splash {

class SplashView {
public:
    virtual ~SplashView() = default;
    virtual std::string caption() const = 0;
    // The caption is redrawn at once.
    virtual void set_caption(const std::string& text) = 0;
    // The status label shows the new text only when messages are next processed.
    virtual void set_status(const std::string& text) = 0;
    virtual void set_progress_max(int max) = 0;
    // The bar repaints at once, without message processing.
    virtual void set_progress_position(int position) = 0;
};

}  // namespace kalv::splash
