// The web server's parts that decide without a socket: which ranges of a
// file are sent, which requests count as coming from another site, the
// session table, and the slots pages wait for.
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/FairSlots.h"
#include "http/ByteRanges.h"
#include "http/CrossSite.h"
#include "state/WebSessions.h"

namespace {

struct RangeCase {
  const char* header;
  RangeAnswer::Kind kind;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
};

TEST(ByteRanges, AFewNonOverlappingRangesAreServedAndEverythingElseGetsTheWholeFile) {
  constexpr uint64_t kSize = 1000;
  const RangeCase cases[] = {
      {"", RangeAnswer::Whole, {}},
      {"bytes=0-99", RangeAnswer::Partial, {{0, 99}}},
      {"bytes=-100", RangeAnswer::Partial, {{900, 999}}},
      {"bytes=-5000", RangeAnswer::Partial, {{0, 999}}},
      {"bytes= 0-9 , 20-29", RangeAnswer::Partial, {{0, 9}, {20, 29}}},
      {"bytes=500-599,0-9", RangeAnswer::Partial, {{500, 599}, {0, 9}}},
      // Ranges beyond the end are left out; none left is 416.
      {"bytes=0-9,2000-2100", RangeAnswer::Partial, {{0, 9}}},
      {"bytes=1000-", RangeAnswer::Unsatisfiable, {}},
      // Overlapping, too many, or not readable: the whole file.
      {"bytes=0-,0-", RangeAnswer::Whole, {}},
      {"bytes=0-99,50-149", RangeAnswer::Whole, {}},
      {"bytes=0-0,2-2,4-4,6-6,8-8,10-10", RangeAnswer::Whole, {}},
      {"bytes=9-0", RangeAnswer::Whole, {}},
      {"bytes=a-b", RangeAnswer::Whole, {}},
      {"bytes=0-18446744073709551616", RangeAnswer::Whole, {}},
      {"items=0-9", RangeAnswer::Whole, {}},
  };
  for (const RangeCase& c : cases) {
    RangeAnswer answer = AnswerRange(c.header, kSize);
    EXPECT_EQ(answer.kind, c.kind) << c.header;
    std::vector<std::pair<uint64_t, uint64_t>> got;
    for (const ByteRange& r : answer.ranges) got.emplace_back(r.first, r.last);
    EXPECT_EQ(got, c.ranges) << c.header;
  }
  // A thousand ranges are not read to their end.
  std::string flood = "bytes=0-";
  for (int i = 0; i < 1000; ++i) flood += ",0-";
  EXPECT_EQ(AnswerRange(flood, kSize).kind, RangeAnswer::Whole);
  EXPECT_EQ(AnswerRange("bytes=0-", 0).kind, RangeAnswer::Unsatisfiable);
}

struct SiteCase {
  NameValues headers;
  bool another;
};

TEST(CrossSite, OriginThenRefererThenFetchSiteDecideAgainstTheHostHeader) {
  const SiteCase cases[] = {
      {{{"Host", "shop.test:8080"}}, false},  // not from a browser
      {{{"Host", "shop.test:8080"}, {"Origin", "http://shop.test:8080"}}, false},
      {{{"Host", "SHOP.test:8080"}, {"origin", "http://shop.TEST:8080"}}, false},
      {{{"Host", "shop.test"}, {"Origin", "https://shop.test"}}, false},  // TLS ended by a proxy
      {{{"Host", "shop.test:443"}, {"Origin", "https://shop.test"}}, false},
      {{{"Host", "shop.test:8080"}, {"Origin", "http://evil.test"}}, true},
      {{{"Host", "shop.test:8080"}, {"Origin", "http://shop.test:8081"}}, true},
      {{{"Host", "shop.test:8080"}, {"Origin", "http://shop.test.evil.test:8080"}}, true},
      {{{"Host", "shop.test:8080"}, {"Origin", "null"}}, true},
      {{{"Host", "shop.test:8080"}, {"Origin", "http://user@shop.test:8080"}}, true},
      {{{"Origin", "http://shop.test:8080"}}, true},  // no Host to compare with
      // Origin decides before Referer.
      {{{"Host", "shop.test:8080"}, {"Origin", "http://evil.test"}, {"Referer", "http://shop.test:8080/a"}}, true},
      {{{"Host", "shop.test:8080"}, {"Referer", "http://shop.test:8080/order.asp?lid=1"}}, false},
      {{{"Host", "shop.test:8080"}, {"Referer", "http://evil.test/shop.test:8080/"}}, true},
      {{{"Host", "shop.test:8080"}, {"Sec-Fetch-Site", "same-origin"}}, false},
      {{{"Host", "shop.test:8080"}, {"Sec-Fetch-Site", "same-site"}}, true},
      {{{"Host", "shop.test:8080"}, {"Sec-Fetch-Site", "cross-site"}}, true},
      // Two Origin headers are never one site.
      {{{"Host", "shop.test:8080"}, {"Origin", "http://shop.test:8080"}, {"Origin", "http://shop.test:8080"}}, true},
  };
  for (const SiteCase& c : cases) {
    HttpRequest request;
    request.headers = c.headers;
    std::string shown;
    for (const auto& [name, value] : c.headers) shown += name + ": " + value + "; ";
    EXPECT_EQ(ComesFromAnotherSite(request), c.another) << shown;
  }
  EXPECT_TRUE(TokenMatches("0123456789abcdef", "0123456789abcdef"));
  EXPECT_FALSE(TokenMatches("0123456789abcdeF", "0123456789abcdef"));
  EXPECT_FALSE(TokenMatches("0123456789abcde", "0123456789abcdef"));
  EXPECT_FALSE(TokenMatches("", ""));
}

TEST(WebSessions, FoundByIdBoundedAndSweptWhenExpiredButNotWhileTheirRequestRuns) {
  int hosts = 0;
  WebSessions sessions([&hosts] { ++hosts; return ComPtr<IDispatch>(); }, 2, WebSessions::Clock::duration::zero());
  const auto start = WebSessions::Clock::now();
  auto first = sessions.MakeSession(start);
  EXPECT_EQ(first->page.id.size(), 32u);
  EXPECT_EQ(first->page.antiForgeryToken.size(), 32u);
  EXPECT_NE(first->page.id, first->page.antiForgeryToken);
  EXPECT_EQ(hosts, 1);
  // Made is not stored: nothing is found by its id until it is.
  EXPECT_EQ(sessions.FindLive(first->page.id, start), nullptr);
  ASSERT_TRUE(sessions.Store(first));
  EXPECT_EQ(sessions.FindLive(first->page.id, start), first);
  EXPECT_EQ(sessions.FindLive("", start), nullptr);
  EXPECT_EQ(sessions.FindLive("00000000000000000000000000000000", start), nullptr);

  auto second = sessions.MakeSession(start);
  ASSERT_TRUE(sessions.Store(second));
  EXPECT_FALSE(sessions.HasRoom());
  EXPECT_FALSE(sessions.Store(sessions.MakeSession(start)));
  EXPECT_EQ(sessions.Count(), 2u);

  // The second is used later and has a longer timeout; the first expires.
  second->page.timeoutMinutes = 60;
  WebSessions::Touch(*second, start + std::chrono::minutes(10));
  const auto later = start + std::chrono::minutes(21);
  EXPECT_EQ(sessions.FindLive(first->page.id, later), nullptr);
  {
    // A session whose request runs stays, expired or not.
    FairSlot running(first->turn);
    sessions.Sweep(later);
    EXPECT_EQ(sessions.Count(), 2u);
  }
  sessions.Sweep(later);
  EXPECT_EQ(sessions.Count(), 1u);
  EXPECT_TRUE(sessions.HasRoom());
  EXPECT_EQ(sessions.FindLive(second->page.id, later), second);

  // A sign-in renews the id: the old one finds nothing, the new one the
  // same session.
  const std::string before = second->page.id;
  ASSERT_TRUE(sessions.Renew(second));
  EXPECT_NE(second->page.id, before);
  EXPECT_EQ(sessions.FindLive(before, later), nullptr);
  EXPECT_EQ(sessions.FindLive(second->page.id, later), second);
  EXPECT_FALSE(sessions.Renew(sessions.MakeSession(later)));

  second->page.abandoned = true;
  EXPECT_EQ(sessions.FindLive(second->page.id, later), nullptr);
  sessions.Drop(second->page.id);
  EXPECT_EQ(sessions.Count(), 0u);
}

TEST(WebSessions, TheSweeperThreadDropsExpiredSessionsWithoutARequest) {
  WebSessions sessions([] { return ComPtr<IDispatch>(); }, 10, std::chrono::milliseconds(10));
  auto session = sessions.MakeSession(WebSessions::Clock::now() - std::chrono::hours(1));
  ASSERT_TRUE(sessions.Store(session));
  for (int i = 0; i < 1000 && sessions.Count() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(sessions.Count(), 0u);
}

// Threads that wait for a slot get it in the order they asked, whoever
// gives one back; closing sends the waiting ones away empty-handed, while
// those holding a slot keep it.
TEST(FairSlots, WaitingThreadsAreServedInArrivalOrderAndAClosedGateTurnsThemAway) {
  FairSlots slots(2);
  ASSERT_TRUE(slots.Take());
  ASSERT_TRUE(slots.Take());
  std::mutex mutex;
  std::vector<size_t> order;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < 6; ++i) {
    threads.emplace_back([&, i] {
      if (!slots.Take()) return;
      {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(i);
      }
      slots.GiveBack();
    });
    // The next thread asks only once this one waits.
    while (slots.Waiting() <= i) std::this_thread::yield();
  }
  EXPECT_TRUE(slots.InUse());
  slots.GiveBack();  // the six pass one slot along, oldest first
  for (int i = 0; i < 1000; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (order.size() == 6) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
  }
  for (std::thread& thread : threads) thread.join();
  threads.clear();

  // One slot still held: a thread that waits for the other is turned away
  // by the close, and so is any that asks after it.
  ASSERT_TRUE(slots.Take());
  std::atomic<int> refused{0};
  threads.emplace_back([&] { refused += slots.Take() ? 0 : 1; });
  while (slots.Waiting() == 0) std::this_thread::yield();
  slots.Close();
  threads.back().join();
  EXPECT_EQ(refused.load(), 1);
  EXPECT_FALSE(slots.Take());
  EXPECT_TRUE(slots.InUse());
  slots.GiveBack();
  slots.GiveBack();
  EXPECT_FALSE(slots.InUse());
}

}  // namespace
