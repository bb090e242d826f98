// The viewer's parts that HTTP does not show well: the query parser keeps
// repeated pairs, one reading of a request refuses what it cannot read
// exactly, and the spectrum cache stays within its bytes.

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
  EXPECT_TRUE(policy.token_matches(std::string(64, 'a')));
  EXPECT_FALSE(policy.token_matches(std::string(63, 'a')));
  EXPECT_FALSE(policy.host_allowed("evil.example:8765"));
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

// One reading of a request: where it ends, its decoded path, whether it is
// heavy work or closes its connection, and what is refused with which status.
TEST(ParseRequest, ReadsEachRequestOnceOrRefusesIt) {
  using State = ParsedRequest::State;
  const std::string get = "GET /api/run HTTP/1.1\r\nHost: h\r\n\r\n";
  const struct {
    std::string received;
    State state;
    std::size_t size;  // complete: the request's bytes; refused: the status
    std::string path;
    bool heavy;
    bool close;
  } cases[] = {
      {"GET /api/run HTTP/1.1\r\nHost: h\r\n", State::incomplete, 0, "", false, false},
      {get + "GET /next", State::complete, get.size(), "/api/run", false, false},
      {"GET / HTTP/1.1\nRange: bytes=0-9\n\n", State::complete, 33, "/", false, false},
      {"GET / HTTP/1.0\r\n\r\n", State::complete, 18, "/", false, true},
      {"GET / HTTP/1.1\r\nConnection: TE, Close\r\n\r\n", State::complete, 41, "/", false, true},
      // The path as routed, escapes decoded once; heavy routes of every run.
      {"GET /api/%78ic?mz=1 HTTP/1.1\r\n\r\n", State::complete, 32, "/api/xic", true, false},
      {"GET /api/xicx HTTP/1.1\r\n\r\n", State::complete, 26, "/api/xicx", false, false},
      {"GET /api/run/12/map?w=9 HTTP/1.1\r\n\r\n", State::complete, 36, "/api/run/12/map", true,
       false},
      {"GET /api/run/0/spectrum/xic HTTP/1.1\r\n\r\n", State::complete, 40,
       "/api/run/0/spectrum/xic", false, false},
      {"GET /api/m%2561p HTTP/1.1\r\n\r\n", State::complete, 29, "/api/m%61p", false, false},
      // Escapes that are not %XX, and control characters, are refused.
      {"GET /api/m%u0061p HTTP/1.1\r\n\r\n", State::refused, 400, "", false, false},
      {"GET /api/map%4 HTTP/1.1\r\n\r\n", State::refused, 400, "", false, false},
      {"GET /a%00b HTTP/1.1\r\n\r\n", State::refused, 400, "", false, false},
      {"GET http://h/ HTTP/1.1\r\n\r\n", State::refused, 400, "", false, false},
      {"GET / HTTP/2.0\r\n\r\n", State::refused, 400, "", false, false},
      // Headers two readers could take differently.
      {"GET / HTTP/1.1\r\nHost : h\r\n\r\n", State::refused, 400, "", false, false},
      {"GET / HTTP/1.1\r\nX: a\r\n b\r\n\r\n", State::refused, 400, "", false, false},
      {"GET / HTTP/1.1\r\nX: " + std::string(70, 'a') + "\r\n\r\n", State::refused, 400, "", false,
       false},
      // A small body belongs to the request, which then closes its connection.
      {"POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nab", State::incomplete, 0, "", false, false},
      {"POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcdGET", State::complete, 42, "/", false,
       true},
      {"POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\n", State::refused, 413, "", false, false},
      {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", State::refused, 400, "",
       false, false},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", State::refused, 400, "", false,
       false},
      // No end of the head within 100 bytes: the request line, or the headers.
      {"GET /" + std::string(120, 'a'), State::refused, 414, "", false, false},
      {"GET /" + std::string(60, 'a') + " HTTP/1.1\r\n\r\n", State::refused, 414, "", false, false},
      {"GET / HTTP/1.1\r\nX: " + std::string(90, 'a') + "\r\n\r\n", State::refused, 431, "", false,
       false},
  };
  const RequestLimits limits{100, 60, 8};
  for (const auto& c : cases) {
    const ParsedRequest parsed = parse_request(c.received, limits);
    EXPECT_EQ(parsed.state, c.state) << c.received;
    if (parsed.state == State::refused) {
      EXPECT_EQ(static_cast<std::size_t>(parsed.status), c.size) << c.received;
    }
    if (parsed.state != State::complete) continue;
    EXPECT_EQ(parsed.size, c.size) << c.received;
    EXPECT_EQ(parsed.request.path, c.path) << c.received;
    EXPECT_EQ(parsed.request.heavy, c.heavy) << c.received;
    EXPECT_EQ(parsed.request.close, c.close) << c.received;
  }
}

}  // namespace
}  // namespace velmoran::view
