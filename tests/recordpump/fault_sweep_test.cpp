// Binding a form and every method that writes through the database, with
// each of its engine calls failing in turn (the read paths' failures are
// checked where they are traced): the call gives a failure code or traces the
// failure, and what is left in the database and on disk is whole. A record
// is there with all its language rows or not at all, every upload row has
// its file, no two file fields name one upload, and nothing hangs below a
// parent that is gone.
#include <filesystem>
#include <functional>
#include <set>

#include "pump_fixtures.h"
#include "platform/kvdbal/FaultInjection.h"

namespace {

namespace faults = kvdbal::faults;

class FaultSweepTest : public FilesPumpTest {
 protected:
  void SetUp() override {
    if (!faults::Available()) GTEST_SKIP() << "this build has no fault injection";
    FilesPumpTest::SetUp();
  }

  // The order tree of the fixture, rebuilt from nothing before every run.
  void FreshTree() {
    for (const char* table : {"krlinenote", "krorderline_l", "krorderline", "krorder_l", "krorder",
                              "kruploadfile"})
      db->Exec(std::string("DELETE FROM ") + table);
    std::filesystem::remove_all(db->BasePath() + "files");
    BuildOrderTree();
  }

  // Runs scenario with engine call n failing, for n = 1, 2, ... until a run
  // makes fewer than n calls, checking after each run what it left. check
  // sees whether the run failed and may add its own expectations.
  void Sweep(const std::function<HRESULT()>& scenario,
             const std::function<void(bool failed)>& check = nullptr,
             const std::function<void()>& prepare = nullptr, bool rollbacksFailToo = false) {
    long n = 1;
    for (; n < 2000; ++n) {
      FreshTree();
      if (prepare) prepare();
      trace.Clear();
      faults::FailNthCall(n, rollbacksFailToo);
      const HRESULT hr = scenario();
      const long calls = faults::Disarm();
      if (calls < n) {
        EXPECT_EQ(S_OK, hr) << "without a failure";
        EXPECT_FALSE(TraceHas("injected failure")) << trace.Text();
        if (check) check(false);
        ExpectWholeData("the run without a failure");
        break;
      }
      const std::string failing = "with engine call " + std::to_string(n) + " failing";
      failedKinds.insert(faults::FailedCallKind());
      if (rollbacksFailToo && TraceHas("(rollback)")) failedKinds.insert("rollback");
      EXPECT_TRUE(FAILED(hr) || TraceHas("injected failure"))
          << failing << ": neither a failure code nor a trace\n" << trace.Text();
      if (check) check(true);
      ExpectWholeData(failing);
      if (HasFailure()) {
        ADD_FAILURE() << "the trace of that run:\n" << trace.Text();
        break;  // one failing n tells the story
      }
    }
    EXPECT_GT(n, 1) << "the scenario made no engine call";
  }

  // The kinds of engine call that have failed in the runs so far.
  std::set<std::string> failedKinds;

  void ExpectWholeData(const std::string& when) {
    for (const auto& [child, parent] : {std::pair{"krorder_l", "krorder"}, {"krorderline", "krorder"},
                                        {"krorderline_l", "krorderline"}, {"krlinenote", "krorderline"}})
      EXPECT_EQ(0, db->QueryLong(std::string("SELECT COUNT(*) FROM ") + child + " c WHERE NOT EXISTS (SELECT 1 FROM " +
                                 parent + " p WHERE p.lid = c.lparentid)"))
          << "a row of " << child << " below a deleted " << parent << ", " << when;
    EXPECT_EQ(0, db->QueryLong("SELECT COUNT(*) FROM krorder o WHERE NOT EXISTS "
                               "(SELECT 1 FROM krorder_l l WHERE l.lparentid = o.lid)"))
        << "an order without its language rows, " << when;
    EXPECT_EQ(0, db->QueryLong("SELECT COUNT(*) FROM (SELECT f FROM (SELECT lfile AS f FROM krorder UNION ALL "
                               "SELECT lfile_l FROM krorder_l UNION ALL SELECT lfile FROM krorderline) files "
                               "WHERE f IS NOT NULL AND f <> 0 GROUP BY f HAVING COUNT(*) > 1) shared"))
        << "an upload named by two file fields, " << when;
    std::set<std::string> named;
    const long last = db->QueryLong("SELECT COALESCE(MAX(lid), 0) FROM kruploadfile");
    for (long id = 1; id <= last; ++id) {
      const std::string row = "lid=" + std::to_string(id);
      if (db->Count("kruploadfile", row) == 0) continue;
      const std::string url = db->QueryString("SELECT strurl FROM kruploadfile WHERE " + row);
      EXPECT_TRUE(db->FileExists(url)) << "upload " << id << " lost its file " << url << ", " << when;
      named.insert(url);
    }
    // A file copied for a copy that was taken back goes with it.
    for (const auto& file : std::filesystem::recursive_directory_iterator(db->BasePath() + "files")) {
      const std::string url = file.path().string().substr(db->BasePath().size());
      EXPECT_TRUE(!file.is_regular_file() || named.count(url)) << "no upload names " << url << ", " << when;
    }
  }

  // The saved id, 0 when the save failed with its code.
  LONG Save() {
    LONG id = 0;
    const HRESULT hr = pump->SaveFieldValues(&id);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << std::hex << hr;
    return hr == S_OK ? id : 0;
  }
};

TEST_P(FaultSweepTest, BindingAFormAndReadingItsRecord) {
  Sweep([&] {
    ComPtr<IDispatch> fresh = db->NewSession(kUserId);
    const HRESULT hr = pump->Init(fresh.Get(), kOrderEditForm);
    if (FAILED(hr)) return hr;
    pump->MoveTo(5);
    CComVariant no;
    pump->ValueByFieldName(CComBSTR("strno").Get(), CComVariant(), &no);
    return hr;
  });
}

TEST_P(FaultSweepTest, SavingANewOrderWithTwoLanguages) {
  LONG saved = 0;
  const auto save = [&] {
    saved = 0;
    ComPtr<IDispatch> fresh = db->NewSession(kUserId);
    if (HRESULT hr = pump->Init(fresh.Get(), kOrderEditForm); FAILED(hr)) return hr;
    Set("strno", CComVariant("N1"));
    Set("strtitle", CComVariant("Neu"), 1031);
    Set("strtitle", CComVariant("New"), 1033);
    saved = Save();
    return S_OK;
  };
  const auto check = [&](bool failed) {
    if (saved > 0) {
      EXPECT_EQ(2, db->Count("krorder_l", "lparentid=" + std::to_string(saved)));
    } else {
      EXPECT_TRUE(failed) << "nothing saved without a failure";
      EXPECT_EQ(0, db->Count("krorder", "strno='N1'")) << "no id handed out but a record";
    }
  };
  Sweep(save, check);
  Sweep(save, check, nullptr, /*rollbacksFailToo=*/true);
  EXPECT_EQ((std::set<std::string>{"open", "prepare", "step", "execute", "begin", "commit", "rollback"}),
            failedKinds);
}

TEST_P(FaultSweepTest, UpdatingAnOrderAndItsLanguageRows) {
  const auto update = [&] {
    if (HRESULT hr = Bind(kOrderEditForm, 5); FAILED(hr)) return hr;
    Set("strno", CComVariant("B5"));
    Set("strtitle", CComVariant("Neu"), 1031);
    Set("strtitle", CComVariant("New"), 1033);
    Save();
    return S_OK;
  };
  // Order 5's main and language texts: all old or all new.
  const auto check = [&](bool) {
    const std::string title = "SELECT strtitle FROM krorder_l WHERE lparentid=5 AND llcid=";
    const std::string now = Text("krorder", "strno", 5) + "|" + db->QueryString(title + "1031") + "|" +
                            db->QueryString(title + "1033");
    EXPECT_TRUE(now == "A5|Erste|First" || now == "B5|Neu|New") << now;
  };
  Sweep(update, check);
  Sweep(update, check, nullptr, /*rollbacksFailToo=*/true);
}

TEST_P(FaultSweepTest, DeletingAnOrder) {
  Sweep(
      [&] {
        if (HRESULT hr = Bind(kOrderEditForm, 5); FAILED(hr)) return hr;
        return pump->Delete();
      },
      nullptr, [&] {
        // Delete leaves the children alone: here there are none.
        for (const char* table : {"krlinenote", "krorderline_l", "krorderline"})
          db->Exec(std::string("DELETE FROM ") + table);
      });
}

TEST_P(FaultSweepTest, CascadeDeletingAnOrderTree) {
  Sweep([&] {
    if (HRESULT hr = Bind(kOrderEditForm, 5); FAILED(hr)) return hr;
    return pump->CascadeDelete(CComBSTR("").Get(), CComBSTR("").Get(), VARIANT_TRUE, VARIANT_FALSE);
  });
}

TEST_P(FaultSweepTest, CloningAnOrderTreeWithItsFiles) {
  // The language packs are listed as children, so a copy has language rows.
  db->Exec("UPDATE krappdatapack SET ldatapackid=10 WHERE lid=11");
  db->Exec("UPDATE krappdatapack SET ldatapackid=12 WHERE lid=13");
  LONG copy = -77;
  Sweep(
      [&] {
        copy = -77;
        if (HRESULT hr = Bind(kOrderEditForm, 5); FAILED(hr)) return hr;
        return pump->Clone(CComBSTR("").Get(), CComBSTR("").Get(), VARIANT_TRUE, &copy);
      },
      [&](bool failed) {
        if (copy > 0) {
          EXPECT_EQ(2, db->Count("krorder_l", "lparentid=" + std::to_string(copy)));
        } else {
          EXPECT_TRUE(failed);
          EXPECT_EQ(2, db->Count("krorder")) << "a copy is left though -1 was handed out";
        }
      });
}

TEST_P(FaultSweepTest, ClearingAFileField) {
  Sweep(
      [&] {
        if (HRESULT hr = Bind(kOrderEditForm, 5); FAILED(hr)) return hr;
        return pump->ClearFileField(5, CComBSTR("lfile").Get());
      },
      [&](bool) {
        const long upload = db->QueryLong("SELECT lfile FROM krorder WHERE lid=5");
        EXPECT_TRUE(upload == 0 || upload == 1) << upload;
        if (upload == 1) {
          EXPECT_EQ(1, db->Count("kruploadfile", "lid=1")) << "the field names a lost upload";
        }
      });
}

KV_ON_BOTH_ENGINES(FaultSweepTest);

}  // namespace
