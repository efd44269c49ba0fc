#include "engine/PageExecutor.h"

#include "engine/JScriptEngine.h"

PageExecutor::PageExecutor(std::string siteRoot, size_t cachedPages)
    : m_translator(std::move(siteRoot)),
      m_cache(cachedPages),
      m_engines([] { return std::make_unique<JScriptEngine>(); }) {}

std::shared_ptr<const CompiledProgram> PageExecutor::Program(PageEngine& engine, const std::string& virtualPath,
                                                             std::string* error) {
  if (auto program = m_cache.Find(virtualPath)) return program;
  TranslatedPage translated;
  if (!m_translator.Translate(virtualPath, &translated, error)) return nullptr;
  auto program = engine.Compile(virtualPath, translated.script, std::move(translated.map), error);
  if (program) m_cache.Store(virtualPath, program, std::move(translated.files));
  return program;
}

bool PageExecutor::Execute(PageContext& page, const std::string& virtualPath, std::string* error) {
  EnginePool::Lease engine = m_engines.Take();
  std::shared_ptr<const CompiledProgram> program = Program(*engine, virtualPath, error);
  return program && engine->Run(page, *program, error);
}
