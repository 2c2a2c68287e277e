// A private PostgreSQL cluster for a test or a benchmark: initdb in a temporary folder, the
// server listening only on a Unix socket in that folder, on its own port, stopped and removed
// at the end. Run as root, the server runs as the "postgres" user (it refuses root), and the
// folder is then that user's. The binaries are Debian's, under /usr/lib/postgresql/*/bin.
#pragma once

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

class CPgCluster {
 public:
  // The newest installed server's binaries, or empty when there is none.
  static std::string strBinDir() {
    std::vector<std::string> dirs;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
      if (std::filesystem::exists(e.path() / "bin" / "initdb") &&
          std::filesystem::exists(e.path() / "bin" / "pg_ctl"))
        dirs.push_back((e.path() / "bin").string());
    std::sort(dirs.begin(), dirs.end());
    return dirs.empty() ? std::string() : dirs.back();
  }

  CPgCluster() = default;
  ~CPgCluster() {
    if (!m_strDir.empty()) {
      bStop();
      std::error_code ec;
      std::filesystem::remove_all(m_strDir, ec);
    }
  }
  CPgCluster(const CPgCluster&) = delete;
  CPgCluster& operator=(const CPgCluster&) = delete;

  // Creates and starts the cluster; false (strWhy says why) when it cannot.
  bool bCreate(std::string& strWhy, bool bDurable = false) {
    m_strBin = strBinDir();
    if (m_strBin.empty()) {
      strWhy = "no PostgreSQL server binaries under /usr/lib/postgresql/*/bin";
      return false;
    }
    char szTemplate[] = "/tmp/mptool-pg-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) {
      strWhy = "no temporary folder";
      return false;
    }
    m_strDir = szTemplate;
    if (geteuid() == 0) {
      const passwd* pw = getpwnam("postgres");
      if (pw == nullptr || chown(m_strDir.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        strWhy = "no postgres user to run the server as";
        return false;
      }
      m_strAs = "runuser -u postgres -- ";
    }
    m_nPort = 20000 + static_cast<int>(getpid() % 20000);
    if (nShell(m_strBin + "/initdb -D " + m_strDir +
               "/data -U postgres -A trust --no-sync -E UTF8 --locale=C") != 0) {
      strWhy = "initdb failed (" + m_strDir + "/initdb.log)";
      return false;
    }
    const std::string strConf = m_strDir + "/data/postgresql.conf";
    std::string strExtra = "listen_addresses = ''\nunix_socket_directories = '" + m_strDir +
                           "'\nport = " + std::to_string(m_nPort) + "\nmax_connections = 60\n";
    if (!bDurable) strExtra += "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
    if (FILE* f = std::fopen(strConf.c_str(), "a")) {
      std::fputs(strExtra.c_str(), f);
      std::fclose(f);
    }
    if (!bStart()) {
      strWhy = "the server did not start (" + m_strDir + "/server.log)";
      return false;
    }
    return true;
  }

  bool bStart() {
    return nShell(m_strBin + "/pg_ctl -D " + m_strDir + "/data -l " + m_strDir + "/server.log -w start") == 0;
  }
  bool bStop() { return nShell(m_strBin + "/pg_ctl -D " + m_strDir + "/data -m fast -w stop") == 0; }

  // The libpq connection string of the cluster's "postgres" database.
  std::string strConnInfo() const {
    return "host=" + m_strDir + " port=" + std::to_string(m_nPort) + " user=postgres dbname=postgres";
  }
  // Runs SQL through psql; its output (unaligned, tuples only) goes to strOut.
  int nPsql(const std::string& strSql, std::string* pOut = nullptr) const {
    const std::string strCmd = m_strBin + "/psql -X -q -A -t -v ON_ERROR_STOP=1 \"" + strConnInfo() +
                               "\" -c \"" + strSql + "\" 2>&1";
    FILE* p = popen(strCmd.c_str(), "r");
    if (p == nullptr) return -1;
    std::string strOut;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) strOut.append(buf, n);
    const int nRc = pclose(p);
    if (pOut != nullptr) *pOut = strOut;
    return nRc;
  }
  const std::string& strDir() const { return m_strDir; }

 private:
  int nShell(const std::string& strCmd) const {
    return std::system((m_strAs + strCmd + " >>" + m_strDir + "/ctl.log 2>&1").c_str());
  }

  std::string m_strBin, m_strDir, m_strAs;
  int m_nPort = 0;
};
