#include "privileges.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

bool DropAllCapabilities()
{
    // The raw system call keeps the program free of a libcap dependency for one call.
    __user_cap_header_struct header {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return syscall(SYS_capset, &header, data) == 0;
}

bool RunningAsRoot()
{
    return geteuid() == 0;
}
