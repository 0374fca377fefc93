#include "blocklist.h"
#include "console_text.h"
#include "database_path.h"
#include <orvanta/database.h>
#include <orvanta/paths.h>
#include <orvanta/text.h>

namespace orvantacli {

int EditBlocklist(const Options& options)
{
    const TextStream err(TextStream::err);
    std::string error;
    std::wstring path = DatabasePath(options, &error);
    if (path.empty())
    {
        err.Write("orvanta-scan: " + error + "\n");
        return 2;
    }
    if (options.database.empty())
        MakeFolders(orvanta::FolderOf(path));
    orvanta::PluginDatabase db;
    std::string text;
    if (db.Open(path, &error))
    {
        for (const std::wstring& module : options.unblock)
            text += (db.IsBlocked(module) ? "Unblocked: " : "Not blocked: ") + orvanta::ToUtf8(orvanta::FullPath(module)) + "\n";
        for (const std::wstring& module : options.block)
            text += "Blocked: " + orvanta::ToUtf8(orvanta::FullPath(module)) + "\n";
        bool written = (options.unblock.empty() || db.Unblock(options.unblock, &error)) &&
                       (options.block.empty() || db.Block(options.block, options.reason, &error));
        if (written)
        {
            TextStream(TextStream::out).Write(text);
            return 0;
        }
    }
    err.Write("orvanta-scan: " + error + "\n");
    return 2;
}

std::string BlockedLines(const std::vector<orvanta::BlockedModule>& blocked)
{
    if (blocked.empty())
        return "";
    std::string text = "Blocked modules:\n";
    for (const orvanta::BlockedModule& module : blocked)
    {
        text += "  " + orvanta::ToUtf8(module.path) + " (";
        if (!module.reason.empty())
            text += module.reason + "; ";
        text += "since " + module.when + ")\n";
    }
    return text;
}

} // namespace orvantacli
