// What the server asks of a page language, whatever the language: a
// compiled form of a page that any worker may run, and an engine per worker
// that compiles and runs pages one at a time. An engine is made once and
// runs many pages; each page starts in a global environment of its own, so
// nothing one page leaves behind is seen by the next.
#pragma once

#include <memory>
#include <string>

#include "page/PageContext.h"
#include "translate/ScriptSourceMap.h"

// A compiled page. Immutable once made, so every worker's engine of the same
// language may run it at the same time.
class CompiledProgram {
 public:
  virtual ~CompiledProgram() = default;
};

class PageEngine {
 public:
  virtual ~PageEngine() = default;

  // Compiles script, named fileName; map tells the page line of each script
  // line (empty for a script that is its own file). Null when it does not
  // compile, with *error naming the page file and line.
  virtual std::shared_ptr<const CompiledProgram> Compile(const std::string& fileName,
                                                         const std::string& script,
                                                         ScriptSourceMap map, std::string* error) = 0;

  // Runs program, compiled by an engine of the same language, for page. False
  // when the page raised an error it did not catch; *error then says what and
  // where. Whatever way it ends, the page's objects are released and the
  // application lock it took is let go before Run returns.
  virtual bool Run(PageContext& page, const CompiledProgram& program, std::string* error) = 0;

  // Whether the engine has work to do between pages (a garbage collection
  // that would otherwise run inside a later page), and doing it. Tidy runs
  // on a thread of its own, while the engine runs no page.
  virtual bool DueForTidying() const { return false; }
  virtual void Tidy() {}
};
