/* LD_PRELOAD shim for running Wine against pseudo-terminals as if they were serial ports.
 *
 * Wine's serial code reads and sets the modem lines with TIOCMGET, TIOCMSET, TIOCMBIS and
 * TIOCMBIC. A pty has no modem lines and refuses these requests, which makes SetCommState,
 * EscapeCommFunction and the modem-status side of WaitCommEvent fail. This shim lets the real
 * ioctl try first; when it fails on a terminal, it keeps the lines in a small per-descriptor
 * table and answers from there. DSR, CTS and CD are reported as present, so the port looks
 * like a cable to a powered device. Nothing else is changed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#define TRACKED_FDS 4096
#define LINES_PRESENT (TIOCM_DSR | TIOCM_CTS | TIOCM_CD)

typedef int (*ioctl_fn)(int, unsigned long, ...);

static pthread_mutex_t lines_lock = PTHREAD_MUTEX_INITIALIZER;
static int lines_known[TRACKED_FDS];
static int lines_set[TRACKED_FDS]; /* DTR and RTS as the program last set them */

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn real;
    if (!real)
        real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return real;
}

static int is_modem_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

static int answer_modem_request(int fd, unsigned long request, int *arg)
{
    int lines;
    if (fd < 0 || fd >= TRACKED_FDS || !arg) {
        errno = EINVAL;
        return -1;
    }
    pthread_mutex_lock(&lines_lock);
    if (!lines_known[fd]) {
        lines_known[fd] = 1;
        lines_set[fd] = TIOCM_DTR | TIOCM_RTS;
    }
    lines = lines_set[fd];
    if (request == TIOCMGET)
        *arg = lines | LINES_PRESENT;
    else if (request == TIOCMSET)
        lines = *arg & (TIOCM_DTR | TIOCM_RTS);
    else if (request == TIOCMBIS)
        lines |= *arg & (TIOCM_DTR | TIOCM_RTS);
    else
        lines &= ~(*arg & (TIOCM_DTR | TIOCM_RTS));
    lines_set[fd] = lines;
    pthread_mutex_unlock(&lines_lock);
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    void *arg;
    int result;
    int saved;
    ioctl_fn real = real_ioctl();

    va_start(args, request);
    arg = va_arg(args, void *);
    va_end(args);

    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    result = real(fd, request, arg);
    if (result == 0 || !is_modem_request(request))
        return result;
    saved = errno;
    if (!isatty(fd)) {
        errno = saved;
        return result;
    }
    return answer_modem_request(fd, request, (int *)arg);
}
