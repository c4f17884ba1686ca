// Two state reasons as IPP and CUPS's clients read them, where PAPPL 1.3
// says them otherwise. The library reaches both functions through its
// procedure linkage table, so these definitions come first and call the
// library's own.
//
// A job that is held is described without its job-state-reasons
// ("job-hold-until-specified"), which IPP requires with every job-state: in
// the answer to a Print-Job or Create-Job with job-hold-until, and to
// Get-Job-Attributes and Get-Jobs. The reason is added where the held job's
// group lacks one.
//
// A printer whose destination is down is "offline" to PAPPL, a keyword
// without the severity suffix that clients look for: "offline-report" is
// what CUPS's own backends report, and what its clients show as offline.
#include <dlfcn.h>

#include <cstring>

#include <pappl/pappl.h>

namespace {

// Whether the last job described in `ipp` is held without a reason.
bool held_without_reason(ipp_t *ipp) {
    bool held = false, reasons = false;
    for (ipp_attribute_t *a = ippFirstAttribute(ipp); a; a = ippNextAttribute(ipp)) {
        const char *name = ippGetName(a);
        if (!name || strcmp(name, "job-id") == 0) // the next job's attributes
            held = reasons = false;
        else if (strcmp(name, "job-state") == 0)
            held = ippGetInteger(a, 0) == IPP_JSTATE_HELD;
        else if (strcmp(name, "job-state-reasons") == 0)
            reasons = true;
    }
    return held && !reasons;
}

} // namespace

extern "C" void _papplJobCopyStateNoLock(pappl_job_t *job, ipp_tag_t group_tag, ipp_t *ipp,
                                         cups_array_t *ra) {
    using Copy = void (*)(pappl_job_t *, ipp_tag_t, ipp_t *, cups_array_t *);
    static const auto library_copy = reinterpret_cast<Copy>(dlsym(RTLD_NEXT, __func__));
    library_copy(job, group_tag, ipp, ra);
    if ((!ra || cupsArrayFind(ra, const_cast<char *>("job-state-reasons"))) &&
        held_without_reason(ipp))
        ippAddString(ipp, group_tag, IPP_TAG_KEYWORD, "job-state-reasons", nullptr,
                     "job-hold-until-specified");
}

extern "C" const char *_papplPrinterReasonString(pappl_preason_t value) {
    using Name = const char *(*)(pappl_preason_t);
    static const auto library_name = reinterpret_cast<Name>(dlsym(RTLD_NEXT, __func__));
    return value == PAPPL_PREASON_OFFLINE ? "offline-report" : library_name(value);
}
