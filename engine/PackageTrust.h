// Which packages may run. An installed main program whose header carries a signature
// names its publisher (its signer certificate's subject); from then on only packages
// validly signed by that same publisher run. A main program that carries no signature
// at all lets every package run; one that cannot be read lets none. Among the publisher's
// packages, one naming the main program's product in its version resource must carry at
// least the main program's product version: an older installer the publisher once signed
// (a rollback to a known hole) is refused.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/Handle.h"

class CPackageTrust {
public:
    // Reads the publisher from the main program's signature, if it carries one, and then
    // its product's name and version.
    explicit CPackageTrust(const std::string& mainProgram);

    // Whether `package` may run. Where a check is made, `lock` then holds the file open
    // with writing and deletion denied, so what was checked is what runs; release it
    // once the package's process exists.
    bool Admit(const std::string& package, CHandle& lock) const;
    // Whether packages are checked at all (the main program carries a signature).
    bool Checks() const { return m_bSigned; }

private:
    bool m_bSigned = false;
    std::vector<BYTE> m_subject; // the signer certificate's encoded subject
    std::wstring m_strProduct;   // without trailing blanks; empty: no version rule
    ULONGLONG m_nVersion = 0;    // the product version's four parts, first part highest
};
