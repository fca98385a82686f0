#include "platform/system_log.h"

#include <sys/uio.h>

#include <systemd/sd-journal.h>

void WriteSystemLogEntry(const std::string& strMessage, const std::vector<CSystemLogField>& fields, bool bWarning)
{
    // The fields come from outside (file names, the device's serial number): sd_journal_sendv
    // takes each as a length and bytes, so nothing in them is read as a format.
    std::vector<std::string> astrFields;
    astrFields.reserve(fields.size() + 3);
    astrFields.push_back("MESSAGE=" + strMessage);
    astrFields.push_back(bWarning ? "PRIORITY=4" : "PRIORITY=6");
    astrFields.push_back("SYSLOG_IDENTIFIER=matrix-update");
    for (const CSystemLogField& field : fields)
        astrFields.push_back(field.strName + "=" + field.strValue);
    std::vector<iovec> aVectors;
    aVectors.reserve(astrFields.size());
    for (std::string& strField : astrFields)
        aVectors.push_back({strField.data(), strField.size()});
    // No journal (a container, a system without it): the call fails, and that is all.
    (void)sd_journal_sendv(aVectors.data(), static_cast<int>(aVectors.size()));
}
