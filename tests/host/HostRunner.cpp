#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace qvl::hosttest
{
    namespace
    {
        std::string readWholeFile (const std::string& path)
        {
            std::ifstream in (path, std::ios::binary);
            std::stringstream buffer;
            buffer << in.rdbuf();
            return buffer.str();
        }

        std::uint32_t le32 (const std::string& data, size_t offset)
        {
            std::uint32_t v = 0;
            for (int i = 3; i >= 0; --i)
                v = (v << 8) | (std::uint8_t) data[offset + (size_t) i];
            return v;
        }

        std::uint16_t le16 (const std::string& data, size_t offset)
        {
            return (std::uint16_t) ((std::uint8_t) data[offset] | ((std::uint8_t) data[offset + 1] << 8));
        }

        void put32 (std::ofstream& out, std::uint32_t v)
        {
            for (int i = 0; i < 4; ++i)
                out.put ((char) ((v >> (8 * i)) & 0xff));
        }

        void put16 (std::ofstream& out, std::uint16_t v)
        {
            out.put ((char) (v & 0xff));
            out.put ((char) (v >> 8));
        }
    }

    std::string shellQuote (const std::string& text)
    {
        std::string quoted = "'";
        for (const char c : text)
            quoted += c == '\'' ? std::string ("'\\''") : std::string (1, c);
        return quoted + "'";
    }

    std::vector<std::string> RunResult::lines() const
    {
        std::vector<std::string> result;
        std::istringstream in (out);
        for (std::string line; std::getline (in, line);)
            result.push_back (line);
        return result;
    }

    std::string RunResult::value (const std::string& key) const
    {
        const auto prefix = key + ": ";
        for (const auto& line : lines())
            if (line.rfind (prefix, 0) == 0)
                return line.substr (prefix.size());
        return {};
    }

    const std::string& bundlePath()
    {
        static const std::string path = QVL_PLUGIN_BUNDLE;
        return path;
    }

    std::string testWorkDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto dir = fs::path (QVL_HOST_TEST_WORK_DIR) / (std::string (info->test_suite_name()) + "_" + info->name());
        std::error_code ec;
        fs::remove_all (dir, ec);
        fs::create_directories (dir);
        return dir.string();
    }

    RunResult runHost (const std::vector<std::string>& arguments)
    {
        static int counter = 0;
        const auto errFile = (fs::temp_directory_path() / ("qvl_host_test_" + std::to_string (::getpid()) + "_" + std::to_string (counter++) + ".err")).string();

        std::string command = shellQuote (QVL_HOST_TOOL);
        for (const auto& argument : arguments)
            command += " " + shellQuote (argument);
        command += " 2>" + shellQuote (errFile) + " </dev/null";

        RunResult result;
        FILE* pipe = ::popen (command.c_str(), "r");

        if (pipe == nullptr)
        {
            ADD_FAILURE() << "cannot start " << command;
            return result;
        }

        char buffer[4096];
        for (size_t n; (n = std::fread (buffer, 1, sizeof (buffer), pipe)) > 0;)
            result.out.append (buffer, n);

        const int status = ::pclose (pipe);
        result.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + (WIFSIGNALED (status) ? WTERMSIG (status) : 0);
        result.err = readWholeFile (errFile);
        std::remove (errFile.c_str());
        expectNoBrokenPipe (result.err);
        return result;
    }

    void expectNoBrokenPipe (const std::string& err)
    {
        EXPECT_EQ (err.find ("qvl_host: SIGPIPE ignored"), std::string::npos) << "qvl_host met a SIGPIPE:\n" << err;
    }

    std::vector<std::string> splitTabs (const std::string& line)
    {
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;)
        {
            const auto tab = line.find ('\t', start);
            fields.push_back (line.substr (start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                return fields;
            start = tab + 1;
        }
    }

    std::vector<ParameterRow> parseParameterRows (const std::string& output)
    {
        std::vector<ParameterRow> rows;
        std::istringstream in (output);

        for (std::string line; std::getline (in, line);)
        {
            if (line.empty() || line[0] == '#')
                continue;

            const auto fields = splitTabs (line);

            if (fields.size() != 9)
            {
                ADD_FAILURE() << "malformed parameter row: " << line;
                continue;
            }

            ParameterRow row;
            row.index = std::atoi (fields[0].c_str());
            row.vst3Id = fields[1];
            row.stringId = fields[2];
            row.name = fields[3];
            row.label = fields[4];
            row.steps = std::atoi (fields[5].c_str());
            row.defaultText = fields[6];
            row.valueText = fields[7];
            row.value = std::strtod (fields[8].c_str(), nullptr);
            rows.push_back (row);
        }

        return rows;
    }

    std::map<std::string, double> parseStateValues (const std::string& output)
    {
        std::map<std::string, double> values;
        std::istringstream in (output);

        for (std::string line; std::getline (in, line);)
        {
            if (line.empty() || line[0] == '#')
                continue;

            const auto fields = splitTabs (line);

            if (fields.size() != 2)
            {
                ADD_FAILURE() << "malformed state line: " << line;
                continue;
            }

            values[fields[0]] = std::strtod (fields[1].c_str(), nullptr);
        }

        return values;
    }

    WavFile readWav (const std::string& path)
    {
        WavFile wav;
        const auto data = readWholeFile (path);

        if (data.size() < 12 || data.compare (0, 4, "RIFF") != 0 || data.compare (8, 4, "WAVE") != 0)
        {
            ADD_FAILURE() << path << " is not a RIFF WAVE file";
            return wav;
        }

        size_t position = 12;
        size_t dataOffset = 0, dataSize = 0;

        while (position + 8 <= data.size())
        {
            const auto id = data.substr (position, 4);
            const size_t size = le32 (data, position + 4);
            const size_t body = position + 8;

            if (id == "fmt " && body + 16 <= data.size())
            {
                const auto format = le16 (data, body);
                wav.channels = le16 (data, body + 2);
                wav.sampleRate = (int) le32 (data, body + 4);
                wav.bitsPerSample = le16 (data, body + 14);
                // 3 is IEEE float; 0xFFFE carries the real format in the first two bytes of its sub-format GUID.
                wav.isFloat = format == 3 || (format == 0xFFFE && size >= 26 && body + 26 <= data.size() && le16 (data, body + 24) == 3);
            }
            else if (id == "data")
            {
                dataOffset = body;
                dataSize = std::min (size, data.size() - body);
            }

            position = body + size + (size & 1);
        }

        if (wav.channels <= 0 || wav.bitsPerSample <= 0 || dataOffset == 0)
        {
            ADD_FAILURE() << path << " has no usable fmt or data chunk";
            return wav;
        }

        const size_t frameBytes = (size_t) wav.channels * (size_t) (wav.bitsPerSample / 8);
        wav.frames = (long) (dataSize / frameBytes);

        if (wav.isFloat && wav.bitsPerSample == 32)
        {
            wav.samples.resize ((size_t) wav.frames * (size_t) wav.channels);
            std::memcpy (wav.samples.data(), data.data() + dataOffset, wav.samples.size() * sizeof (float));
        }

        return wav;
    }

    void writeFloatWav (const std::string& path, int channels, int sampleRate, const std::vector<float>& interleaved)
    {
        std::ofstream out (path, std::ios::binary);
        const auto dataBytes = (std::uint32_t) (interleaved.size() * sizeof (float));

        out.write ("RIFF", 4);
        put32 (out, 36 + dataBytes);
        out.write ("WAVEfmt ", 8);
        put32 (out, 16);
        put16 (out, 3);
        put16 (out, (std::uint16_t) channels);
        put32 (out, (std::uint32_t) sampleRate);
        put32 (out, (std::uint32_t) (sampleRate * channels * 4));
        put16 (out, (std::uint16_t) (channels * 4));
        put16 (out, 32);
        out.write ("data", 4);
        put32 (out, dataBytes);
        out.write (reinterpret_cast<const char*> (interleaved.data()), (std::streamsize) dataBytes);
        ASSERT_TRUE (out.good()) << "cannot write " << path;
    }
}
