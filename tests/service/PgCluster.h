// A throwaway PostgreSQL cluster for one test: initdb into a temporary
// folder, the server listening only on a Unix socket in that folder, run
// as nobody when the tests run as root (the server refuses root). Stopped
// at once and removed with the object.
//
// Debian's postgresql packages give the programs; where they are missing,
// Started() is false and the test skips.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class PgCluster {
public:
    // durable: the server syncs its writes as a production server does
    // (benchmarks); tests leave it off for speed.
    explicit PgCluster(bool durable = false) : durable_(durable)
    {
        bin_ = FindBin();
        if (bin_.empty())
            return;
        char tmpl[] = "/tmp/velmo-pg-XXXXXX";
        dir_ = mkdtemp(tmpl);
        if (geteuid() == 0) {
            as_ = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
            Run("chown nobody:nogroup " + dir_);
        }
        if (Run(as_ + bin_ + "/initdb -D " + dir_ + "/data -U velmo --auth=trust -E UTF8 --locale=C.UTF-8 --no-sync"))
            started_ = Start();
    }
    ~PgCluster()
    {
        if (!dir_.empty()) {
            Stop();
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool Started() const { return started_; }
    // The server, again after Stop; true once it takes connections.
    bool Start()
    {
        return Run(as_ + bin_ + "/pg_ctl -D " + dir_ + "/data -l " + dir_ + "/log -w -t 30 -o \"-k " + dir_ +
                   " -c listen_addresses= -c max_connections=200" + (durable_ ? "" : " -c fsync=off") + "\" start");
    }
    // Stops the server at once, as a crash or a pulled cable would.
    bool Stop() { return Run(as_ + bin_ + "/pg_ctl -D " + dir_ + "/data -m immediate -w stop"); }
    // A libpq connection string to database (created by CreateDatabase, or
    // "postgres").
    std::string ConnInfo(const std::string& database = "velmo") const
    {
        return "host=" + dir_ + " user=velmo dbname=" + database;
    }
    bool CreateDatabase(const std::string& name = "velmo") { return Psql("CREATE DATABASE " + name, "postgres"); }
    // Runs sql through psql; true when it succeeded. Its output is in Output().
    bool Psql(const std::string& sql, const std::string& database = "velmo")
    {
        std::string script = dir_ + "/script.sql";
        std::ofstream(script) << sql << "\n";
        std::string command = "psql -X -q -t -A -v ON_ERROR_STOP=1 -h " + dir_ + " -U velmo -d " + database + " -f " +
                              script + " > " + dir_ + "/psql.out 2>&1";
        return std::system(command.c_str()) == 0;
    }
    std::string Output() const
    {
        std::ifstream in(dir_ + "/psql.out");
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        while (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    }
    const std::string& Dir() const { return dir_; }

private:
    static std::string FindBin()
    {
        for (const char* dir : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin"})
            if (std::filesystem::exists(std::string(dir) + "/initdb"))
                return dir;
        return {};
    }
    static bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

    std::string bin_, dir_, as_;
    bool durable_ = false;
    bool started_ = false;
};
