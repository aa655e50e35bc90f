// What the refresh timing programs share: the benchmark's RSS 2.0 feeds and
// a wall-clock reading.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace qbench {

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Channel `channel` of the benchmark: `items` items of about 1.8 KB each,
// their links under `base`.
inline std::string BenchmarkFeed(int channel, const std::string& base, int items) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Channel " +
                  std::to_string(channel) + "</title><link>" + base + "/site" + std::to_string(channel) +
                  "/</link><description>A channel of the benchmark</description>\n";
  for (int i = 0; i < items; ++i) {
    std::string id = std::to_string(channel) + "-" + std::to_string(i);
    s += "<item><title>Item " + id + ": a headline of ordinary length for a news item</title><link>" + base +
         "/site" + std::to_string(channel) + "/story/" + id + ".html</link><guid>" + base + "/guid/" + id +
         "</guid><pubDate>Tue, 08 Dec 2026 10:" + std::to_string(10 + i % 50) +
         ":00 GMT</pubDate><description>&lt;p&gt;";
    for (int k = 0; k < 34; ++k) s += "The quick brown fox jumps over the lazy dog " + std::to_string(k) + ". ";
    s += "&lt;/p&gt;</description></item>\n";
  }
  return s + "</channel></rss>\n";
}

// Writes `channels` benchmark feeds as "<docroot>/feeds/c<n>.xml", their
// links under `base`. Returns their addresses, one per line, and adds their
// size to bytes.
inline std::string WriteBenchmarkFeeds(const std::string& docroot, const std::string& base, int channels, int items,
                                       size_t& bytes) {
  std::filesystem::create_directories(docroot + "/feeds");
  std::string urls;
  for (int n = 1; n <= channels; ++n) {
    std::string feed = BenchmarkFeed(n, base, items);
    bytes += feed.size();
    std::string path = docroot + "/feeds/c" + std::to_string(n) + ".xml";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(feed.data(), 1, feed.size(), f);
      std::fclose(f);
    }
    urls += base + "/feeds/c" + std::to_string(n) + ".xml\n";
  }
  return urls;
}

}  // namespace qbench
