#include "engine/EngineHost.h"

namespace ruvo {
namespace {

class SilentHost final : public IEngineHost {
public:
    void ErrorBox(const std::string&) override {}
    void MessageBox(const std::string&) override {}
};

SilentHost g_silentHost;
IEngineHost* g_host = &g_silentHost;

}  // namespace

IEngineHost& EngineHost() { return *g_host; }

ScopedEngineHost::ScopedEngineHost(IEngineHost& host) : m_previous(g_host) { g_host = &host; }

ScopedEngineHost::~ScopedEngineHost() { g_host = m_previous; }

}  // namespace ruvo
