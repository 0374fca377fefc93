#include "vst3_host_context.h"
#include "../base/compat.h"

const wchar_t Vst3HostName[] = L"Orvanta Plugin Scanner";

namespace {

class HostApplication : public Vst3::IHostApplication
{
public:
    Vst3::tresult VST3_API queryInterface(const Vst3::TUID iid, void** obj) override
    {
        if (!obj)
            return Vst3::kInvalidArgument;
        if (iid && (Vst3::SameUid(iid, Vst3::FUnknown_iid) ||
                    Vst3::SameUid(iid, Vst3::IHostApplication_iid)))
        {
            addRef();
            *obj = this;
            return Vst3::kResultOk;
        }
        *obj = nullptr;
        return Vst3::kNoInterface;
    }

    // The object is never deleted: the count is only what the plugin sees.
    uint32_t VST3_API addRef() override { return (uint32_t)InterlockedIncrement(&m_references); }
    uint32_t VST3_API release() override { return (uint32_t)InterlockedDecrement(&m_references); }

    Vst3::tresult VST3_API getName(Vst3::String128 name) override
    {
        if (!name)
            return Vst3::kInvalidArgument;
        int i = 0;
        for (; Vst3HostName[i] && i < 127; i++)
            name[i] = Vst3HostName[i];
        name[i] = 0;
        return Vst3::kResultOk;
    }

    Vst3::tresult VST3_API createInstance(Vst3::TUID, Vst3::TUID, void** obj) override
    {
        if (obj)
            *obj = nullptr;
        return Vst3::kNotImplemented;
    }

private:
    volatile LONG m_references = 0;
};

HostApplication TheHost;

} // namespace

Vst3::FUnknown* Vst3HostContext() { return &TheHost; }
