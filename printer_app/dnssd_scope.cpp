#include "dnssd_scope.h"

#include <atomic>

#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <dlfcn.h>
#include <net/if.h>

namespace {

std::atomic<AvahiIfIndex> only_interface{AVAHI_IF_UNSPEC};

AvahiIfIndex scoped(AvahiIfIndex interface) {
    AvahiIfIndex only = only_interface;
    return only == AVAHI_IF_UNSPEC ? interface : only;
}

template <typename Function>
Function *avahi_function(const char *name) {
    return reinterpret_cast<Function *>(dlsym(RTLD_NEXT, name));
}

} // namespace

void advertise_only_on_loopback() {
    if (unsigned index = if_nametoindex("lo"))
        only_interface = AvahiIfIndex(index);
}

// PAPPL calls Avahi through its procedure linkage table, so these
// definitions come first: each passes the call on to Avahi's own function
// with the interface chosen here.
extern "C" int avahi_entry_group_add_service_strlst(AvahiEntryGroup *group, AvahiIfIndex interface,
                                                    AvahiProtocol protocol, AvahiPublishFlags flags,
                                                    const char *name, const char *type,
                                                    const char *domain, const char *host,
                                                    uint16_t port, AvahiStringList *txt) {
    static const auto avahi =
        avahi_function<decltype(avahi_entry_group_add_service_strlst)>(__func__);
    return avahi ? avahi(group, scoped(interface), protocol, flags, name, type, domain, host, port,
                         txt)
                 : AVAHI_ERR_NOT_SUPPORTED;
}

extern "C" int avahi_entry_group_add_service_subtype(AvahiEntryGroup *group, AvahiIfIndex interface,
                                                     AvahiProtocol protocol,
                                                     AvahiPublishFlags flags, const char *name,
                                                     const char *type, const char *domain,
                                                     const char *subtype) {
    static const auto avahi =
        avahi_function<decltype(avahi_entry_group_add_service_subtype)>(__func__);
    return avahi ? avahi(group, scoped(interface), protocol, flags, name, type, domain, subtype)
                 : AVAHI_ERR_NOT_SUPPORTED;
}

extern "C" int avahi_entry_group_add_record(AvahiEntryGroup *group, AvahiIfIndex interface,
                                            AvahiProtocol protocol, AvahiPublishFlags flags,
                                            const char *name, uint16_t clazz, uint16_t type,
                                            uint32_t ttl, const void *rdata, size_t size) {
    static const auto avahi = avahi_function<decltype(avahi_entry_group_add_record)>(__func__);
    return avahi ? avahi(group, scoped(interface), protocol, flags, name, clazz, type, ttl, rdata,
                         size)
                 : AVAHI_ERR_NOT_SUPPORTED;
}
