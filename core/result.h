// What a run hands to a front end: its status and message, the table, named
// arrays, point lists and texts. Texts that number points are made for the
// base asked for, once, and kept with the fit.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "include/lpcore.h"

struct lpc_fit {
    int status = 0;
    std::string message;

    std::vector<std::string> names;              // table columns, in order
    std::vector<std::vector<double>> columns;    // each m values
    std::size_t rows = 0;

    std::map<std::string, std::vector<double>> values;
    std::map<std::string, std::vector<long long>> points;
    std::map<std::string, std::function<std::string(int base)>> texts;
    std::map<std::pair<std::string, int>, std::string> made;  // texts made so far

    void column(const std::string& name, std::vector<double> v)
    {
        names.push_back(name);
        columns.push_back(std::move(v));
    }
    void text(const std::string& name, const std::string& fixed)
    {
        texts[name] = [fixed](int) { return fixed; };
    }
};

namespace lpc {

struct Request;

// Runs the request into `fit`; throws Error for a status other than LPC_OK.
void run(const Request& s, lpc_progress progress, void* ctx, lpc_fit& fit);

}  // namespace lpc
