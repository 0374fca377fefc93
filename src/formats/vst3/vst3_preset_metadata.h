// Reading the metadata XML (the "Info" chunk) of a .vstpreset.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace orvanta {

// The id and value of each <Attr> element directly inside a <MetaInfo>
// element, in document order: entities (&amp; &lt; &gt; &quot; &apos;
// &#N; &#xN;) decoded, line breaks and tabs in values as blanks, bytes that
// are not UTF-8 as U+FFFD; an <Attr> without an id is passed over. False,
// with no attribute and the fault for people ("unknown entity '&nbsp;' at
// byte 57", "<MetaInfo> is never closed"), for a document that is not
// well-formed.
bool ReadPresetMetadata(const std::string& xml, std::vector<std::pair<std::string, std::string>>* attributes,
                        std::string* fault);

} // namespace orvanta
