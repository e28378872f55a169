#include <gtest/gtest.h>

#include <cstdlib>

#include "unzip/extract.h"

int main(int argc, char** argv) {
    if (const auto threading = kalv::unzip::threading_from_text(std::getenv("KALV_THREADS")))
        kalv::unzip::set_process_threading(*threading);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
