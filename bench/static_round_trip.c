/* static_round_trip SOCKET_PATH MESSAGE_SIZE: the floor for a warm front-end run. Linked
 * statically and started the way the front end is, it makes one request/answer round trip
 * on a Unix socket in the pipes' framing (a 4-byte big-endian length, then the bytes) and
 * exits. */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int read_exact(int fd, char* p, size_t n) {
    while (n > 0) {
        ssize_t got = recv(fd, p, n, 0);
        if (got <= 0) return -1;
        p += got;
        n -= (size_t)got;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3 || strlen(argv[1]) >= sizeof(((struct sockaddr_un*)0)->sun_path)) return 2;
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, argv[1]);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) return 1;
    size_t size = (size_t)atol(argv[2]);
    char request[4 + 65536];
    if (size > 65536) return 2;
    uint32_t length = htonl((uint32_t)size);
    memcpy(request, &length, 4);
    memset(request + 4, 'r', size);
    if (send(fd, request, 4 + size, MSG_NOSIGNAL) != (ssize_t)(4 + size)) return 1;
    char reply[1024];
    if (read_exact(fd, (char*)&length, 4) != 0) return 1;
    size = ntohl(length);
    if (size > sizeof reply) size = sizeof reply;
    if (read_exact(fd, reply, size) != 0) return 1;
    close(fd);
    return 0;
}
