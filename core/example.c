/* A host of the fitting core: the local linear fit of the bundled motorcycle
 * data (accel on times) with a cross-validated bandwidth and robust
 * bias-corrected 95% intervals at five points.
 *
 *   build/core_example data/mcycle.csv
 */
#include <stdio.h>
#include <stdlib.h>

#include "lpcore.h"

int main(int argc, char** argv)
{
    FILE* in = fopen(argc > 1 ? argv[1] : "data/mcycle.csv", "r");
    if (in == NULL) return perror("data/mcycle.csv"), 1;
    double times[200], accel[200];
    size_t n = 0;
    fscanf(in, "%*[^\n]\n"); /* the header line: times,accel */
    while (n < 200 && fscanf(in, "%lf,%lf\n", &times[n], &accel[n]) == 2) ++n;
    fclose(in);

    lpc_request* request = lpc_request_new("dorvane");
    lpc_set_response(request, "accel", accel, n);
    lpc_add_regressor(request, "times", times, n, 0);
    lpc_set_text(request, "bandwidth", "cv");
    lpc_set_text(request, "ci", "rbc");
    const double at[] = {10, 20, 30, 40, 50};
    lpc_set_doubles(request, "at", at, 5);

    lpc_fit* fit = NULL;
    const int status = lpc_run(request, NULL, NULL, &fit);
    lpc_request_free(request);
    if (status != LPC_OK) {
        fprintf(stderr, "%s\n", lpc_message(fit));
        lpc_fit_free(fit);
        return 1;
    }
    fputs(lpc_text(fit, "header", 1), stdout);
    size_t m = 0;
    const double* level = lpc_values(fit, "level", &m);
    const double* lower = lpc_values(fit, "lower_level", NULL);
    const double* upper = lpc_values(fit, "upper_level", NULL);
    for (size_t j = 0; j < m; ++j) printf("times %4.0f: accel %8.3f  [%8.3f, %8.3f]\n", at[j], level[j], lower[j], upper[j]);
    fputs(lpc_text(fit, "warnings", 1), stderr);
    lpc_fit_free(fit);
    return 0;
}
