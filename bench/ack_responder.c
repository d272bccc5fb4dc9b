/* A device that only acknowledges: every datagram of the code-update
 * protocol gets a 23-byte ACK naming the packet's start page, at once, with
 * no checks. After each finish packet it prints what the run sent (count,
 * bytes, FNV-1a hash of every byte), so two clients can be shown to have made
 * the same exchange.
 *
 *   ack_responder [address]      (default 127.0.0.1, port 69)
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

int main(int argc, char** argv)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_port = htons(69);
    at.sin_addr.s_addr = inet_addr(argc > 1 ? argv[1] : "127.0.0.1");
    if (fd < 0 || bind(fd, (struct sockaddr*)&at, sizeof at) != 0) {
        perror("ack_responder: bind");
        return 2;
    }
    unsigned char packet[65536];
    unsigned char reply[23];
    long datagrams = 0;
    long bytes = 0;
    uint64_t hash = 0xcbf29ce484222325u;
    for (;;) {
        struct sockaddr_in from;
        socklen_t fromLength = sizeof from;
        ssize_t n = recvfrom(fd, packet, sizeof packet, 0, (struct sockaddr*)&from, &fromLength);
        if (n < 5)
            continue;
        memset(reply, 0, sizeof reply);
        reply[0] = 1; /* TFTP_ACK */
        reply[3] = packet[3];
        reply[4] = packet[4];
        sendto(fd, reply, sizeof reply, 0, (struct sockaddr*)&from, fromLength);
        ++datagrams;
        bytes += n;
        for (ssize_t i = 0; i < n; ++i)
            hash = (hash ^ packet[i]) * 0x100000001b3u;
        if (packet[0] == 6) { /* TFTP_FINISH */
            printf("finish: %ld datagrams, %ld bytes, fnv %016llx\n", datagrams, bytes,
                   (unsigned long long)hash);
            fflush(stdout);
            datagrams = 0;
            bytes = 0;
            hash = 0xcbf29ce484222325u;
        }
    }
}
