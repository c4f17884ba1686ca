// PAPPL 1.3 describes a job that is held without its job-state-reasons
// ("job-hold-until-specified"), which IPP requires with every job-state: in
// the answer to a Print-Job or Create-Job with job-hold-until, and to
// Get-Job-Attributes and Get-Jobs. The library copies a job's state through
// its procedure linkage table, so this definition comes first: it calls the
// library's own, then adds the reason where the held job's group lacks one.
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
