/* The least a client of the code-update protocol can do to send an update
 * package as VNloader sends it (default partial encipherment): the same
 * datagrams, one outstanding at a time (send, wait up to 10 s, receive),
 * a line per packet on standard output, the finish packet with the CRC.
 *
 *   minimal_client address password package
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

static uint16_t crc16(const unsigned char* data, size_t length)
{
    if (length == 0)
        return 0;
    uint16_t table[256];
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t reg = (uint16_t)i;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? (uint16_t)((reg >> 1) ^ 0x1021u) : (uint16_t)(reg >> 1);
        table[i] = reg;
    }
    uint16_t reg = 0xFFFF;
    for (size_t i = 0; i < length; ++i)
        reg = (uint16_t)((reg >> 8) ^ table[(reg ^ data[i]) & 0xFFu]);
    reg = (uint16_t)~reg;
    return (uint16_t)((reg << 8) | (reg >> 8));
}

static void put16(unsigned char* at, unsigned value)
{
    at[0] = (unsigned char)(value & 0xFF);
    at[1] = (unsigned char)(value >> 8);
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: minimal_client address password package\n");
        return 2;
    }
    static unsigned char file[0x40000];
    FILE* in = fopen(argv[3], "rb");
    size_t fileSize = in ? fread(file, 1, sizeof file, in) : 0;
    if (in)
        fclose(in);
    if (fileSize < 12 + 8 || file[0] != 'A') {
        fprintf(stderr, "minimal_client: not a package: %s\n", argv[3]);
        return 2;
    }
    /* The body (page header, then pages), with zeros after it. */
    static unsigned char body[0x40000 + 2048];
    size_t bodySize = fileSize - 12;
    memcpy(body, file + 12, bodySize);
    unsigned endPage = (unsigned)((bodySize - 8 + 255) / 256);

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in device;
    memset(&device, 0, sizeof device);
    device.sin_family = AF_INET;
    device.sin_port = htons(69);
    device.sin_addr.s_addr = inet_addr(argv[1]);

    unsigned char packet[2048];
    memset(packet, 0, sizeof packet);
    packet[0] = 5; /* TFTP_CODE_UPDATE */
    size_t passwordLength = strlen(argv[2]);
    memcpy(packet + 5, argv[2], passwordLength < 16 ? passwordLength : 16);
    put16(packet + 21, 16);
    unsigned char flags = 0x81;
    size_t headerBytes = 8;
    size_t offset = 0;
    unsigned char reply[2048];
    for (unsigned start = 0; start < endPage;) {
        unsigned count = endPage - start < 4 ? endPage - start : 4;
        packet[1] = (unsigned char)count;
        packet[2] = flags;
        put16(packet + 3, start);
        memcpy(packet + 23, body + offset, headerBytes + 1024);
        printf("Sending Code Update pages %u to %u\n", start, start + count - 1);
        fflush(stdout);
        if (sendto(fd, packet, 23 + headerBytes + 1024, 0, (struct sockaddr*)&device,
                   sizeof device) < 0) {
            perror("minimal_client: sendto");
            return 1;
        }
        struct pollfd wait = {fd, POLLIN, 0};
        if (poll(&wait, 1, 10000) <= 0)
            continue;
        ssize_t n = recvfrom(fd, reply, sizeof reply, 0, NULL, NULL);
        if (n != 23 || reply[0] != 1 || (unsigned)(reply[3] | reply[4] << 8) != start)
            continue;
        start += count;
        offset += headerBytes + 256 * count;
        headerBytes = 0;
        flags = 0x00;
    }
    packet[0] = 6; /* TFTP_FINISH */
    packet[1] = (unsigned char)(file[1] + 7);
    packet[2] = 0x01;
    put16(packet + 3, 0);
    put16(packet + 23, 0);
    put16(packet + 25, endPage);
    put16(packet + 27, crc16(body, (size_t)endPage * 256));
    sendto(fd, packet, 29, 0, (struct sockaddr*)&device, sizeof device);
    struct pollfd wait = {fd, POLLIN, 0};
    if (poll(&wait, 1, 10000) <= 0 || recvfrom(fd, reply, sizeof reply, 0, NULL, NULL) != 23)
        return 1;
    printf("File Transfered\n");
    return 0;
}
