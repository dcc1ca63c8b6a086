/* The floor a tool page is measured against: a CGI program that does nothing
 * but read the posted form, if any, and print a fixed page of N bytes, N from
 * the query "bytes=N". Under a name starting with "nph-" it writes its own
 * status line, as the non-parsed-header tools do, so each tool is compared
 * with a twin that Apache treats alike. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { MAX_BYTES = 1 << 20 };

static char page[MAX_BYTES + 256];

/* N from "bytes=N"; -1 when the query is anything else. */
static long requested_bytes(const char *query) {
    const char *digits = query && strncmp(query, "bytes=", 6) == 0 ? query + 6 : NULL;
    if (!digits || !*digits || strspn(digits, "0123456789") != strlen(digits) || strlen(digits) > 7) return -1;
    long n = strtol(digits, NULL, 10);
    return n <= MAX_BYTES ? n : -1;
}

static int is_nph(const char *program) {
    const char *slash = strrchr(program, '/');
    return strncmp(slash ? slash + 1 : program, "nph-", 4) == 0;
}

/* Lines of filler closed by the end of an HTML document, N bytes in all. */
static size_t fill_body(char *at, long n) {
    static const char end[] = "</body></html>";
    size_t end_len = (size_t)n >= sizeof end - 1 ? sizeof end - 1 : 0;
    for (long i = 0; i < n - (long)end_len; ++i) at[i] = (i % 64 == 63) ? '\n' : 'x';
    memcpy(at + n - end_len, end, end_len);
    return (size_t)n;
}

/* Reads and drops the CONTENT_LENGTH bytes of a posted form, as every program
 * that takes a form must: the server hands them over only after the program
 * has started, which is part of what a posted page costs. */
static void read_form(void) {
    const char *length = getenv("CONTENT_LENGTH");
    long left = length ? strtol(length, NULL, 10) : 0;
    char buffer[4096];
    while (left > 0) {
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) return;
        left -= got;
    }
}

static int write_all(const char *text, size_t length) {
    while (length > 0) {
        ssize_t done = write(STDOUT_FILENO, text, length);
        if (done <= 0) return 1;
        text += done;
        length -= (size_t)done;
    }
    return 0;
}

int main(int argc, char **argv) {
    int nph = argc > 0 && is_nph(argv[0]);
    read_form();
    long n = requested_bytes(getenv("QUERY_STRING"));
    size_t head;
    if (n < 0) {
        head = (size_t)snprintf(page, 256, "%sContent-type: text/plain\n\nthe query must be bytes=N, N up to %d\n",
                                nph ? "HTTP/1.0 400 Bad Request\n" : "Status: 400 Bad Request\n", MAX_BYTES);
        return write_all(page, head);
    }
    head = (size_t)snprintf(page, 256, "%sContent-type: text/html\n\n", nph ? "HTTP/1.0 200 Okay\n" : "");
    return write_all(page, head + fill_body(page + head, n));
}
