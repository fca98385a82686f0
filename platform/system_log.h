#pragma once
// The system's own log, which a site already collects from every bench PC: the journal on Linux,
// the Application event log on Windows (only where the installer registered the program's event
// source). Nothing of our own making: an entry the system cannot take is dropped without a word,
// since the update log beside it has the same facts.

#include <string>
#include <vector>

// One structured field: a name of capital letters, digits and underscores, and its value.
struct CSystemLogField {
    std::string strName;
    std::string strValue;
};

// Sends one entry under the identifier "matrix-update": strMessage as its text, the fields as
// the journal's own fields (on Windows as "NAME=value" lines after the text). bWarning marks an
// update that did not complete.
void WriteSystemLogEntry(const std::string& strMessage, const std::vector<CSystemLogField>& fields, bool bWarning);
