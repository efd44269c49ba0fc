// Runs the pages of a site: each page is translated and compiled once per
// version of its files and kept compiled, and runs on an engine taken from a
// pool of engines that are made once and reused. One object serves all the
// workers of a server at the same time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "engine/CompiledPageCache.h"
#include "engine/EnginePool.h"
#include "page/PageContext.h"
#include "translate/AspTranslator.h"

class PageExecutor {
 public:
  // siteRoot: the canonical site directory, without a trailing '/'.
  explicit PageExecutor(std::string siteRoot, size_t cachedPages = 512);
  PageExecutor(const PageExecutor&) = delete;
  PageExecutor& operator=(const PageExecutor&) = delete;

  // Runs the page at virtualPath ("/dir/page.asp") for page. False with
  // *error when the page cannot be read or translated, does not compile, or
  // raised an error it did not catch (the page file and line named where
  // known). Throws when no engine can be made for it.
  bool Execute(PageContext& page, const std::string& virtualPath, std::string* error);

  // Engines for pages that run at once, made before the first request.
  void PrepareEngines(size_t count) { m_engines.Prepare(count); }

  size_t CachedPages() const { return m_cache.Size(); }
  size_t IdleEngines() const { return m_engines.Idle(); }

 private:
  std::shared_ptr<const CompiledProgram> Program(PageEngine& engine, const std::string& virtualPath,
                                                 std::string* error);

  AspTranslator m_translator;
  CompiledPageCache m_cache;
  EnginePool m_engines;
};
