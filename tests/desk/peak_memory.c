/* Runs a command and reports its peak memory, for the tests that bound it:
 *   peak_memory OUT PROGRAM ARGS...
 * runs PROGRAM, writes its largest resident set in kB to OUT and ends with its exit status (128 +
 * the signal when one ended it). A process keeps the high-water mark of the one it was forked
 * from across exec: started straight from a test that holds a gigabyte, the import would seem to
 * hold as much. From this small process it starts afresh. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) return 125;
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) return 126;
    FILE* out = fopen(argv[1], "w");
    if (!out) return 126;
    fprintf(out, "%ld\n", usage.ru_maxrss);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
