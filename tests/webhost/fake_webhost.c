/*
 * Stands in for fernhall-webhost in the component's tests. Started by the component
 * exactly like the real helper (its socket end on the fd named in argv[1]), it hands
 * that socket to the test through the unix socket named in FERNHALL_FAKE_WEBHOST_SOCKET,
 * together with a hello line "<pid> <native flag>", and then stays alive until the
 * test closes that connection. With FERNHALL_FAKE_WEBHOST_MODE=stubborn it ignores
 * SIGTERM and the closed connection and has to be killed.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main (int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const int fd = atoi (argv[1]);
    const char* path = getenv ("FERNHALL_FAKE_WEBHOST_SOCKET");
    const char* mode = getenv ("FERNHALL_FAKE_WEBHOST_MODE");
    const int stubborn = mode != NULL && strcmp (mode, "stubborn") == 0;
    if (path == NULL)
        return 2;

    int control = socket (AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr;
    memset (&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    strncpy (addr.sun_path, path, sizeof addr.sun_path - 1);
    if (connect (control, (struct sockaddr*) &addr, sizeof addr) != 0)
        return 3;

    char hello[64];
    snprintf (hello, sizeof hello, "%ld %s", (long) getpid(), argv[3]);
    struct iovec iov = { hello, strlen (hello) + 1 };
    char space[CMSG_SPACE (sizeof (int))];
    memset (space, 0, sizeof space);
    struct msghdr msg;
    memset (&msg, 0, sizeof msg);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = space;
    msg.msg_controllen = sizeof space;
    struct cmsghdr* c = CMSG_FIRSTHDR (&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN (sizeof (int));
    memcpy (CMSG_DATA (c), &fd, sizeof (int));
    if (sendmsg (control, &msg, 0) < 0)
        return 4;
    close (fd);

    if (stubborn)
        signal (SIGTERM, SIG_IGN);

    char b;
    while (read (control, &b, 1) > 0) {}
    while (stubborn)
        pause();
    return 0;
}
