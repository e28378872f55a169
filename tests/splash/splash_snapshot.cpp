// Shows the real splash window at 2 of 3 with the status "Checking...", tells the
// screenshot script which bar pixels to check (bar-relative position and colour),
// then keeps the window up, processing messages, until the file named by its
// argument exists: the script takes its screenshot first, however long a loaded
// machine makes it wait. The limit only ends a run whose script died.
#include "platform/platform.h"
#include "splash/gradient_bar.h"
#include "splash/splash.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    using namespace kalv::splash;
    auto& os = kalv::platform::native();
    auto splash = create_splash_window(os);
    splash->show_and_update();
    splash->set_progress_max(3);
    splash->set_progress_position(1);
    splash->set_status("Loading...");
    os.process_messages();
    splash->set_progress_position(2);
    splash->set_status("Checking...");
    os.process_messages();

    // Inside the sunken edge: ramp colours of the filled columns; beyond column 207
    // the unfilled bar, which shows the window's colour like column 320 of the client.
    for (int column : {1, 50, 103, 150, 206}) {
        Color c = gradient_color(clNavy, clRed, column, 313);
        std::printf("check %d 12 %d %d %d\n", column, red_of(c), green_of(c), blue_of(c));
    }
    std::printf("same 250 12 -4 12\n");  // unfilled bar column = window background left of the bar
    std::printf("ready\n");
    std::fflush(stdout);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(280);
    while (std::chrono::steady_clock::now() < deadline) {
        os.process_messages();
        if (argc > 1 && std::ifstream(argv[1])) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return 0;
}
