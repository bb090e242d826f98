// The viewer's parts that HTTP does not show well: the query parser keeps
// what httplib's drops, and the spectrum cache stays within its bytes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <velmoran/view/access.hpp>
#include <velmoran/view/run_api.hpp>
#include <velmoran/view/viewer_assets.hpp>

#include "assets.hpp"
#include "request_head.hpp"
#include "spectrum_cache.hpp"

namespace velmoran::view {
namespace {

TEST(ParseQuery, KeepsRepeatsAndDecodes) {
  const struct {
    const char* target;
    QueryParams params;
  } cases[] = {
      {"/api/xic", {}},
      {"/api/xic?", {}},
      {"/api/xic?mz=500&mz=500&ppm=10", {{"mz", "500"}, {"mz", "500"}, {"ppm", "10"}}},
      {"/a?name=PC+34%3A1%2C%22x%22&&flag", {{"name", "PC 34:1,\"x\""}, {"flag", ""}}},
      {"/a?bad=%zz%4&end=%41#frag", {{"bad", "%zz%4"}, {"end", "A"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_query(c.target), c.params) << c.target;
}

TEST(SpectrumCache, DropsTheLeastRecentlyUsedToStayWithinItsBytes) {
  SpectrumCache cache(300);
  const auto text = [](char c) { return std::make_shared<const std::string>(100, c); };
  cache.insert(0, text('a'));
  cache.insert(1, text('b'));
  cache.insert(2, text('c'));
  ASSERT_TRUE(cache.find(0));  // 0 is now the most recent; 1 the least
  cache.insert(3, text('d'));
  EXPECT_EQ(cache.bytes(), 300U);
  EXPECT_FALSE(cache.find(1));
  EXPECT_EQ(*cache.find(0), std::string(100, 'a'));
  EXPECT_TRUE(cache.find(2) && cache.find(3));
  // A text larger than the whole cache is served but not kept.
  cache.insert(4, std::make_shared<const std::string>(301, 'e'));
  EXPECT_FALSE(cache.find(4));
  EXPECT_EQ(cache.bytes(), 300U);
}

TEST(AccessPolicy, HostNamesTheServerAndTheTokenMatchesWhole) {
  const AccessPolicy policy(std::string(64, 'a'), "::1", 8765);
  for (const char* host : {"127.0.0.1:8765", "localhost:8765", "LocalHost:8765", "[::1]:8765"}) {
    EXPECT_TRUE(policy.host_allowed(host)) << host;
  }
  for (const char* host : {"", "127.0.0.1", "127.0.0.1:8766", "localhost.:8765",
                           "evil.example:8765", "127.0.0.1:8765 ", "::1:8765"}) {
    EXPECT_FALSE(policy.host_allowed(host)) << host;
  }
  EXPECT_TRUE(policy.allows("localhost:8765", "", std::string(64, 'a')));
  EXPECT_FALSE(policy.allows("localhost:8765", std::string(63, 'a'), ""));
  EXPECT_FALSE(policy.allows("evil.example:8765", std::string(64, 'a'), ""));
}

// The build's answer, its compile definition and the embedded table agree:
// the page and the charting library are there exactly when it says so.
TEST(ViewerAssets, TheAnswerMatchesWhatIsEmbedded) {
  EXPECT_EQ(viewer_assets_built(), VELMORAN_VIEWER_ASSETS != 0);
  for (const char* name : {"index.html", "main.js", "uPlot.esm.js", "uPlot.min.css"}) {
    EXPECT_EQ(find_asset(name) != nullptr, viewer_assets_built()) << name;
  }
  EXPECT_EQ(viewer_assets_missing().find('\n'), std::string_view::npos);
}

TEST(ExamineRequest, FindsTheRequestsEndDropsRangesAndSeparatesHeavyWork) {
  using State = RequestHead::State;
  const struct {
    std::string received;
    State state;
    std::string request;  // the first `size` bytes after examination
    bool heavy;
    bool close_after;
  } cases[] = {
      {"GET /api/run HTTP/1.1\r\nHost: h\r\n", State::incomplete, "", false, false},
      {"GET /api/run HTTP/1.1\r\nHost: h\r\n\r\nGET /next", State::complete,
       "GET /api/run HTTP/1.1\r\nHost: h\r\n\r\n", false, false},
      // Every Range header goes, whatever its case; Content-Range-like names stay.
      {"GET / HTTP/1.1\r\nRange: bytes=0-100000\r\nX-Range: 1\r\nrAnGe:bytes=5-\r\n\r\n",
       State::complete, "GET / HTTP/1.1\r\nX-Range: 1\r\n\r\n", false, false},
      // The path as routed, escapes decoded.
      {"GET /api/xic?mz=1&ppm=2 HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/xic?mz=1&ppm=2 HTTP/1.1\r\n\r\n", true, false},
      {"GET /api/%78ic HTTP/1.1\r\n\r\n", State::complete, "GET /api/%78ic HTTP/1.1\r\n\r\n", true,
       false},
      {"GET /api/xicx HTTP/1.1\r\n\r\n", State::complete, "GET /api/xicx HTTP/1.1\r\n\r\n", false,
       false},
      {"GET /api/map?width=9 HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/map?width=9 HTTP/1.1\r\n\r\n", true, false},
      // Each run's XIC is heavy too, whatever names the run; its other routes are not.
      {"GET /api/run/12/xic?mz=1 HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/run/12/xic?mz=1 HTTP/1.1\r\n\r\n", true, false},
      {"GET /api/run/x/%78ic HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/run/x/%78ic HTTP/1.1\r\n\r\n", true, false},
      {"GET /api/run/3/map?width=9 HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/run/3/map?width=9 HTTP/1.1\r\n\r\n", true, false},
      {"GET /api/run/0/scans HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/run/0/scans HTTP/1.1\r\n\r\n", false, false},
      {"GET /api/run/xic HTTP/1.1\r\n\r\n", State::complete, "GET /api/run/xic HTTP/1.1\r\n\r\n",
       false, false},
      {"GET /api/run/0/spectrum/xic HTTP/1.1\r\n\r\n", State::complete,
       "GET /api/run/0/spectrum/xic HTTP/1.1\r\n\r\n", false, false},
      // A small body is waited for and belongs to the request; then the
      // connection closes. A large or unclear one is left to the library.
      {"POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nab", State::incomplete, "", false, true},
      {"POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcdGET", State::complete,
       "POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcd", false, true},
      {"POST / HTTP/1.1\r\nContent-Length: 99999\r\n\r\n", State::complete,
       "POST / HTTP/1.1\r\nContent-Length: 99999\r\n\r\n", false, true},
      {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", State::complete,
       "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", false, true},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", State::complete,
       "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", false, true},
      // No end of the head within 100 bytes.
      {"GET /" + std::string(120, 'a'), State::too_large, "", false, false},
      {"GET / HTTP/1.1\r\nX: " + std::string(90, 'a') + "\r\n\r\n", State::too_large, "", false,
       false},
  };
  for (const auto& c : cases) {
    std::string bytes = c.received;
    const RequestHead head = examine_request(bytes, 100, 8);
    EXPECT_EQ(head.state, c.state) << c.received;
    if (head.state != State::complete) continue;
    EXPECT_EQ(bytes.substr(0, head.size), c.request) << c.received;
    EXPECT_EQ(head.heavy, c.heavy) << c.received;
    EXPECT_EQ(head.close_after, c.close_after) << c.received;
  }
}

}  // namespace
}  // namespace velmoran::view
