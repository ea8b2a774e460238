/* lsclient: a lean load and latency client for the transport benchmarks and
 * the reliability script. Plain blocking sockets with TCP_NODELAY and no
 * event loop, so that its own overhead stays far below what it measures.
 *
 *   lsclient ws-rtt PORT COUNT [raw]   WebSocket round trips of a version
 *                                      command ("raw": no connect command
 *                                      first, for a plain echo server)
 *   lsclient http-new PORT COUNT [PATH] HTTP POST (or GET PATH), a new
 *                                      connection per request
 *   lsclient http-keep PORT COUNT [PATH] the same on one kept-alive connection
 *   lsclient http-body PORT COUNT BODY POST of BODY, a new connection each
 *   lsclient ws-conc PORT N SECONDS [raw]  N WebSockets, each with one command
 *                                      in flight at a time, for SECONDS:
 *                                      prints "rate R/s p50 US p99 US n COUNT"
 *   lsclient ws-idle PORT N            opens N WebSockets, sends each the
 *                                      connect command, prints "open N" and
 *                                      holds them until standard input ends
 *   lsclient tcp-idle PORT N           opens N plain connections and holds them
 *   lsclient ws-flood PORT BYTES SECONDS  sends BYTES-sized commands without
 *                                      reading any answer
 *   lsclient ws-bigframe PORT MIB      announces a 1 GiB frame, sends MIB of it
 *   lsclient slow-body PORT SECONDS    sends a body one byte a second
 * Latency modes print "p50 US p99 US n COUNT fail F".
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static double now_us(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

static int open_tcp(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr*)&a, sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

static int send_all(int fd, const void* p, size_t n) {
    const char* c = p;
    while (n > 0) {
        ssize_t w = send(fd, c, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return -1;
        c += w;
        n -= (size_t)w;
    }
    return 0;
}

static int recv_all(int fd, void* p, size_t n) {
    char* c = p;
    while (n > 0) {
        ssize_t r = recv(fd, c, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return -1;
        c += r;
        n -= (size_t)r;
    }
    return 0;
}

/* Reads one HTTP response (headers and Content-Length body); returns the
 * body length or -1. Bytes after it stay in buf/len for the next one. */
static char g_buf[1 << 16];
static size_t g_len;
static int read_http(int fd) {
    for (;;) {
        char* end = memmem(g_buf, g_len, "\r\n\r\n", 4);
        if (end) {
            size_t head = (size_t)(end - g_buf) + 4;
            long body = 0;
            char* cl = memmem(g_buf, head, "Content-Length:", 15);
            if (cl) body = strtol(cl + 15, NULL, 10);
            if (g_len >= head + (size_t)body) {
                int is_interim = g_len > 9 && memcmp(g_buf + 9, "100", 3) == 0;
                memmove(g_buf, g_buf + head + body, g_len - head - (size_t)body);
                g_len -= head + (size_t)body;
                if (is_interim) continue;
                return (int)body;
            }
        }
        if (g_len == sizeof g_buf) return -1;
        ssize_t r = recv(fd, g_buf + g_len, sizeof g_buf - g_len, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return -1;
        g_len += (size_t)r;
    }
}

static int ws_handshake(int fd, int port) {
    char req[512];
    int n = snprintf(req, sizeof req,
                     "GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
                     port);
    if (send_all(fd, req, (size_t)n) != 0) return -1;
    char buf[1024];
    size_t len = 0;
    while (len < sizeof buf) {
        ssize_t r = recv(fd, buf + len, 1, 0);
        if (r <= 0) return -1;
        len += 1;
        if (len >= 4 && memcmp(buf + len - 4, "\r\n\r\n", 4) == 0) return memcmp(buf, "HTTP/1.1 101", 12) == 0 ? 0 : -1;
    }
    return -1;
}

/* A masked text frame (mask key zero: the payload goes as it is). */
static int ws_send(int fd, const char* text, size_t n) {
    unsigned char head[14];
    size_t h = 0;
    head[h++] = 0x81;
    if (n < 126) {
        head[h++] = (unsigned char)(0x80 | n);
    } else if (n < 65536) {
        head[h++] = 0x80 | 126;
        head[h++] = (unsigned char)(n >> 8);
        head[h++] = (unsigned char)n;
    } else {
        head[h++] = 0x80 | 127;
        for (int i = 7; i >= 0; --i) head[h++] = (unsigned char)((uint64_t)n >> (8 * i));
    }
    memset(head + h, 0, 4);
    h += 4;
    if (send_all(fd, head, h) != 0) return -1;
    return send_all(fd, text, n);
}

/* Reads one frame into buf (up to cap); returns the payload length or -1. */
static long ws_recv(int fd, char* buf, size_t cap) {
    unsigned char h[2];
    if (recv_all(fd, h, 2) != 0) return -1;
    uint64_t n = h[1] & 0x7f;
    if (n == 126) {
        unsigned char e[2];
        if (recv_all(fd, e, 2) != 0) return -1;
        n = ((uint64_t)e[0] << 8) | e[1];
    } else if (n == 127) {
        unsigned char e[8];
        if (recv_all(fd, e, 8) != 0) return -1;
        n = 0;
        for (int i = 0; i < 8; ++i) n = (n << 8) | e[i];
    }
    if (n > cap) return -1;
    if (recv_all(fd, buf, (size_t)n) != 0) return -1;
    if ((h[0] & 0x0f) == 8) return -1; /* close */
    return (long)n;
}

static int cmp_double(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static void report(double* samples, int n, int fails) {
    if (n == 0) {
        printf("p50 0 p99 0 n 0 fail %d\n", fails);
        return;
    }
    qsort(samples, (size_t)n, sizeof *samples, cmp_double);
    int i99 = n * 99 / 100;
    if (i99 >= n) i99 = n - 1;
    printf("p50 %.1f p99 %.1f n %d fail %d\n", samples[n / 2], samples[i99], n, fails);
}

static const char* kConnect = "{\"cmd\":\"system.webconnect\"}";

static int ws_open(int port, char* uuid, size_t cap) {
    int fd = open_tcp(port);
    if (fd < 0) return -1;
    if (ws_handshake(fd, port) != 0 || ws_send(fd, kConnect, strlen(kConnect)) != 0) {
        close(fd);
        return -1;
    }
    char reply[512];
    long n = ws_recv(fd, reply, sizeof reply - 1);
    if (n < 0) {
        close(fd);
        return -1;
    }
    reply[n] = 0;
    char* u = strstr(reply, "\"uuid\":\"");
    if (uuid && u) {
        u += 8;
        char* e = strchr(u, '"');
        size_t l = e ? (size_t)(e - u) : 0;
        if (l >= cap) l = cap - 1;
        memcpy(uuid, u, l);
        uuid[l] = 0;
    }
    return fd;
}

static int ws_rtt(int port, int count, int raw) {
    char uuid[64] = "echo";
    int fd;
    if (raw) {
        fd = open_tcp(port);
        if (fd < 0 || ws_handshake(fd, port) != 0) return 1;
    } else {
        fd = ws_open(port, uuid, sizeof uuid);
        if (fd < 0) return 1;
    }
    double* s = malloc(sizeof(double) * (size_t)count);
    int n = 0, fails = 0;
    char msg[256], buf[4096];
    for (int i = 0; i < count; ++i) {
        int l = snprintf(msg, sizeof msg,
                         "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"%s\",\"sequence\":\"%d\"}", uuid, i);
        double t0 = now_us();
        if (ws_send(fd, msg, (size_t)l) != 0 || ws_recv(fd, buf, sizeof buf) < 0) {
            ++fails;
            break;
        }
        s[n++] = now_us() - t0;
    }
    report(s, n, fails);
    close(fd);
    return 0;
}

static const char* g_body = "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"bench\",\"sequence\":\"1\"}";

static int http_request(char* out, size_t cap, const char* path, int port) {
    if (path) return snprintf(out, cap, "GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n", path, port);
    const char* body = g_body;
    return snprintf(out, cap,
                    "POST / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: text/plain;charset=UTF-8\r\n"
                    "Content-Length: %zu\r\n\r\n%s",
                    port, strlen(body), body);
}

static int http_rtt(int port, int count, const char* path, int keep) {
    char req[1024];
    int l = http_request(req, sizeof req, path, port);
    double* s = malloc(sizeof(double) * (size_t)count);
    int n = 0, fails = 0, fd = -1;
    for (int i = 0; i < count; ++i) {
        double t0 = now_us();
        if (fd < 0) {
            g_len = 0;
            fd = open_tcp(port);
        }
        if (fd < 0 || send_all(fd, req, (size_t)l) != 0 || read_http(fd) < 0) {
            ++fails;
            if (fd >= 0) close(fd);
            fd = -1;
            continue;
        }
        s[n++] = now_us() - t0;
        if (!keep) {
            close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) close(fd);
    report(s, n, fails);
    return 0;
}

/* N clients in a closed loop: each sends its next command as soon as the
 * answer to the last one is in; one thread, poll() over all of them. */
static int ws_conc(int port, int count, int seconds, int raw) {
    int* fds = malloc(sizeof(int) * (size_t)count);
    double* sent_at = malloc(sizeof(double) * (size_t)count);
    struct pollfd* pfd = malloc(sizeof(struct pollfd) * (size_t)count);
    char(*uuids)[64] = malloc(64 * (size_t)count);
    size_t cap = 1 << 20, n = 0;
    double* s = malloc(sizeof(double) * cap);
    for (int i = 0; i < count; ++i) {
        strcpy(uuids[i], "echo");
        if (raw) {
            fds[i] = open_tcp(port);
            if (fds[i] >= 0 && ws_handshake(fds[i], port) != 0) {
                close(fds[i]);
                fds[i] = -1;
            }
        } else {
            fds[i] = ws_open(port, uuids[i], sizeof uuids[i]);
        }
        if (fds[i] < 0) {
            fprintf(stderr, "connection %d failed\n", i);
            return 1;
        }
        pfd[i].fd = fds[i];
        pfd[i].events = POLLIN;
    }
    char msg[256], buf[4096];
    long seq = 0;
    for (int i = 0; i < count; ++i) {
        int l = snprintf(msg, sizeof msg,
                         "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"%s\",\"sequence\":\"%ld\"}", uuids[i],
                         seq++);
        sent_at[i] = now_us();
        if (ws_send(fds[i], msg, (size_t)l) != 0) return 1;
    }
    double t_start = now_us(), t_end = t_start + seconds * 1e6;
    int fails = 0;
    while (now_us() < t_end) {
        int r = poll(pfd, (nfds_t)count, 1000);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            ++fails;
            break;
        }
        for (int i = 0; i < count; ++i) {
            if (!(pfd[i].revents & POLLIN)) continue;
            /* Answers are small: one recv brings a whole frame. */
            if (ws_recv(fds[i], buf, sizeof buf) < 0) {
                ++fails;
                pfd[i].fd = -1;
                continue;
            }
            double t = now_us();
            if (n < cap) s[n++] = t - sent_at[i];
            int l = snprintf(msg, sizeof msg,
                             "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"%s\",\"sequence\":\"%ld\"}",
                             uuids[i], seq++);
            sent_at[i] = t;
            if (ws_send(fds[i], msg, (size_t)l) != 0) {
                ++fails;
                pfd[i].fd = -1;
            }
        }
    }
    double elapsed = (now_us() - t_start) / 1e6;
    printf("rate %.0f ", (double)n / elapsed);
    report(s, (int)n, fails);
    for (int i = 0; i < count; ++i) close(fds[i]);
    return 0;
}

static void hold_until_stdin_ends(void) {
    char c;
    while (read(0, &c, 1) > 0) {}
}

static int hold_many(int port, int count, int ws) {
    int* fds = malloc(sizeof(int) * (size_t)count);
    int open = 0;
    for (int i = 0; i < count; ++i) {
        fds[i] = ws ? ws_open(port, NULL, 0) : open_tcp(port);
        if (fds[i] >= 0) ++open;
    }
    printf("open %d\n", open);
    fflush(stdout);
    hold_until_stdin_ends();
    for (int i = 0; i < count; ++i)
        if (fds[i] >= 0) close(fds[i]);
    return 0;
}

static int ws_flood(int port, int bytes, int seconds) {
    char uuid[64];
    int fd = ws_open(port, uuid, sizeof uuid);
    if (fd < 0) return 1;
    char* msg = malloc((size_t)bytes + 1);
    int l = snprintf(msg, (size_t)bytes, "{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"%s\",\"pad\":\"", uuid);
    memset(msg + l, 'x', (size_t)(bytes - l - 2));
    memcpy(msg + bytes - 2, "\"}", 2);
    double end = now_us() + seconds * 1e6;
    long sent = 0;
    struct timeval tv = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    while (now_us() < end) {
        if (ws_send(fd, msg, (size_t)bytes) != 0) break;
        ++sent;
    }
    printf("sent %ld\n", sent);
    close(fd);
    return 0;
}

static int ws_bigframe(int port, int mib) {
    int fd = open_tcp(port);
    if (fd < 0 || ws_handshake(fd, port) != 0) return 1;
    unsigned char head[14] = {0x81, 0x80 | 127, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0};
    send_all(fd, head, sizeof head);
    static char chunk[1 << 20];
    memset(chunk, 'a', sizeof chunk);
    struct timeval tv = {2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int sent = 0;
    for (; sent < mib; ++sent)
        if (send_all(fd, chunk, sizeof chunk) != 0) break;
    char buf[256];
    long r = recv(fd, buf, sizeof buf, 0);
    printf("sent %d MiB, closed %s\n", sent, r <= 0 || (r > 0 && (unsigned char)buf[0] == 0x88) ? "yes" : "no");
    close(fd);
    return 0;
}

static int slow_body(int port, int seconds) {
    int fd = open_tcp(port);
    if (fd < 0) return 1;
    char head[256];
    int l = snprintf(head, sizeof head, "POST / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Length: 1000\r\n\r\n", port);
    send_all(fd, head, (size_t)l);
    double t0 = now_us();
    int closed = 0;
    for (int i = 0; i < seconds; ++i) {
        if (send_all(fd, "{", 1) != 0) {
            closed = 1;
            break;
        }
        sleep(1);
        char c;
        ssize_t r = recv(fd, &c, 1, MSG_DONTWAIT);
        if (r == 0) {
            closed = 1;
            break;
        }
    }
    printf("closed %s after %.0f s\n", closed ? "yes" : "no", (now_us() - t0) / 1e6);
    close(fd);
    return 0;
}

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    if (argc < 4) {
        fprintf(stderr, "usage: see the head of lsclient.c\n");
        return 2;
    }
    const char* mode = argv[1];
    int port = atoi(argv[2]), n = atoi(argv[3]);
    if (!strcmp(mode, "ws-rtt")) return ws_rtt(port, n, argc > 4 && !strcmp(argv[4], "raw"));
    if (!strcmp(mode, "http-new")) return http_rtt(port, n, argc > 4 ? argv[4] : NULL, 0);
    if (!strcmp(mode, "http-keep")) return http_rtt(port, n, argc > 4 ? argv[4] : NULL, 1);
    if (!strcmp(mode, "http-body") && argc > 4) {
        g_body = argv[4];
        return http_rtt(port, n, NULL, 0);
    }
    if (!strcmp(mode, "ws-conc"))
        return ws_conc(port, n, argc > 4 ? atoi(argv[4]) : 3, argc > 5 && !strcmp(argv[5], "raw"));
    if (!strcmp(mode, "ws-idle")) return hold_many(port, n, 1);
    if (!strcmp(mode, "tcp-idle")) return hold_many(port, n, 0);
    if (!strcmp(mode, "ws-flood")) return ws_flood(port, n, argc > 4 ? atoi(argv[4]) : 3);
    if (!strcmp(mode, "ws-bigframe")) return ws_bigframe(port, n);
    if (!strcmp(mode, "slow-body")) return slow_body(port, n);
    fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
}
