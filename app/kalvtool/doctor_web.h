// What `kalvtool doctor` says of an upgrade location named by a URL, asked as the
// launcher asks it (web_refresh.cpp), but for the body, which is never downloaded here.
#pragma once

#include <cstdint>
#include <string>

#include "doctor_report.h"
#include "platform/platform.h"
#include "platform/web.h"

namespace kalvtool::doctor {

struct WebUpgradeFinding {
    bool will_fetch = false;  // the next start downloads the copy
    int64_t fetch_size = 0;   // its size as the server gives it, 0 when it does not
};

// The "upgrade copy" line for `url`, given the local package at `local`: the launcher's
// request with If-Modified-Since its last-write time, so a 304 says what the next start
// will hear (the ETag the launcher keeps beside the package only makes a 304 cheaper).
WebUpgradeFinding check_web_upgrade(Report& report, kalv::platform::Platform& os, kalv::platform::WebClient& web,
                                    const std::string& url, const std::string& local);

}  // namespace kalvtool::doctor
