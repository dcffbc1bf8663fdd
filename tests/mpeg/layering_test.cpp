// The engine and its file layer stay free of Qt and GStreamer, in their sources and in what
// they link.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

TEST(Layering, EngineIncludesNoQtOrGStreamerHeader) {
    const std::regex framework(R"(^\s*#\s*include\s*[<"]\s*(Q[A-Za-z]|qt|gst/|glib|gio/|gobject))",
                               std::regex::icase);
    int scanned = 0;
    for (const char* folder : {"src/mpeg", "src/platform/io"}) {
        const auto root = std::filesystem::path(TARNWICK_SOURCE_DIR) / folder;
        ASSERT_TRUE(std::filesystem::is_directory(root)) << root;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                EXPECT_FALSE(std::regex_search(line, framework))
                    << entry.path().string() << ":" << number << ": " << line;
            }
            ++scanned;
        }
    }
    EXPECT_GT(scanned, 10);
}

TEST(Layering, EngineLinksNoQtOrGStreamer) {
    const std::string links = TARNWICK_ENGINE_LINKS;
    EXPECT_NE(links.find("tarnwick_platform_io"), std::string::npos) << links;
    for (const char* forbidden : {"Qt", "GST", "gst", "glib"}) {
        EXPECT_EQ(links.find(forbidden), std::string::npos) << links;
    }
}
