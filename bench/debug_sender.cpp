// Sends numbered debug datagrams to a UDP port at a steady rate, the way a
// chatty device would, for bench/listener_load.sh.
//
//   debug_sender <IPv4 address> <port> <count> <per second> [per batch]
//
// Datagrams go out in batches (default 10), each batch on its own deadline,
// so the rate holds over any stretch longer than a batch. Prints what it
// achieved: "sent <n> in <seconds> s, <rate>/s, <errors> send errors".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static double seconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int main(int argc, char** argv)
{
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: %s address port count per-second [per-batch]\n", argv[0]);
        return 2;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[2])));
    long count = std::atol(argv[3]);
    double rate = std::atof(argv[4]);
    long batch = argc == 6 ? std::atol(argv[5]) : 10;
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1 || count < 1 || rate <= 0 || batch < 1) {
        std::fprintf(stderr, "bad arguments\n");
        return 2;
    }
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0 || connect(sock, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("socket");
        return 1;
    }

    const long batchNs = static_cast<long>(1e9 * static_cast<double>(batch) / rate);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    timespec deadline = start;
    long errors = 0;
    char text[96];
    for (long sent = 0; sent < count;) {
        for (long i = 0; i < batch && sent < count; ++i, ++sent) {
            int length = std::snprintf(text, sizeof text,
                                       "dbg %07ld: sensor 3 ok, queue 12 of 64, temp 41C", sent);
            if (send(sock, text, static_cast<size_t>(length), 0) != length)
                ++errors;
        }
        if (sent == count)
            break;
        deadline.tv_nsec += batchNs;
        while (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_nsec -= 1000000000L;
            ++deadline.tv_sec;
        }
        // Behind schedule the call returns at once: the next batch catches up.
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    double took = seconds(end) - seconds(start);
    std::printf("sent %ld in %.3f s, %.0f/s, %ld send errors\n", count, took,
                static_cast<double>(count) / took, errors);
    close(sock);
    return 0;
}
