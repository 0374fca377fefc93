#include "product_list.h"
#include "blocklist.h"
#include "console_text.h"
#include "database_path.h"
#include <orvanta/database.h>
#include <orvanta/products.h>
#include <windows.h>

namespace orvantacli {

int ListProducts(const Options& options)
{
    const TextStream err(TextStream::err);
    std::string error;
    std::wstring path = DatabasePath(options, &error);
    if (path.empty())
    {
        err.Write("orvanta-scan: " + error + "\n");
        return 2;
    }
    // Listing never creates the file, nor its folder.
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    orvanta::PluginDatabase db;
    if (!db.Open(path, &error))
    {
        err.Write("orvanta-scan: " + error + "\n");
        return 2;
    }
    std::string text;
    for (const orvanta::Product& product : db.Products())
        text += orvanta::ProductLine(product) + "\n";
    text += BlockedLines(db.Blocked());
    TextStream(TextStream::out).Write(text);
    return 0;
}

} // namespace orvantacli
