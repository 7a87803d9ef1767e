// Checks of the values of an XML declaration and of public identifiers. Each
// failure is an error report (thrown as ARXPException) at `where`.
#pragma once

#include "arxp/diagnostics.h"
#include "arxp/export.h"
#include "arxp/xstring.h"

namespace arxp {

// Checks the declared encoding name against the detected encoding and returns the
// encoding to read the rest of the input with. Names match without regard to ASCII
// letter case; "Shift_JIS", "EUC-JP" and "ISO-2022-JP" need a UTF-8-detected input.
ARXP_EXPORT int checkEncodingDecl(const Xstring& name, int detected,
                                  const Location* where = nullptr);
// A non-empty run of version characters ([a-zA-Z0-9_.:-]).
ARXP_EXPORT void checkVersionNum(const Xstring& version, const Location* where = nullptr);
// Exactly "yes" or "no"; returns whether the document is standalone.
ARXP_EXPORT bool checkStandalone(const Xstring& value, const Location* where = nullptr);
// Only characters of the XML PubidChar set.
ARXP_EXPORT void checkPubidLiteral(const Xstring& id, const Location* where = nullptr);

}  // namespace arxp
