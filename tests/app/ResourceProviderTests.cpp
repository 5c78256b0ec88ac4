#include "app/ManagerWindow.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

namespace
{
    struct CacheFolders
    {
        juce::File root = juce::File::createTempFile ("fernhall-provider");
        juce::File mascots = root.getChildFile ("mascots");
        juce::File banners = root.getChildFile ("banners");

        CacheFolders()
        {
            mascots.createDirectory();
            banners.createDirectory();
            root.getChildFile ("registry-cache.json").replaceWithText ("{\"secret\":1}");
            mascots.getChildFile ("a.svg").replaceWithText ("<svg id='a'/>");
            mascots.getChildFile ("a.mjs").replaceWithText ("export const x = 1;");
            mascots.getChildFile ("sub").createDirectory();
            mascots.getChildFile ("sub").getChildFile ("a.svg").replaceWithText ("<svg id='sub'/>");
            banners.getChildFile ("b.png").replaceWithText ("PNG");
        }
        ~CacheFolders() { root.deleteRecursively(); }

        std::optional<tarvo::WebBrowserComponent::Resource> get (const juce::String& path) const
        {
            return ManagerWindow::serveResource (path, mascots, banners);
        }
    };

    juce::String text (const tarvo::WebBrowserComponent::Resource& r)
    {
        return juce::String::fromUTF8 (reinterpret_cast<const char*> (r.data.data()), (int) r.data.size());
    }

    juce::String embedded (const char* id)
    {
        int size = 0;
        auto* data = BinaryData::getNamedResource (id, size);
        return juce::String::fromUTF8 (data, size);
    }
}

TEST (ResourceProvider, ServesEmbeddedPageFiles)
{
    CacheFolders c;
    struct Case { const char* path; const char* id; const char* mime; };
    for (auto k : { Case { "/", "index_html", "text/html" },
                    Case { "", "index_html", "text/html" },
                    Case { "/index.html", "index_html", "text/html" },
                    Case { "/index.html?x=1", "index_html", "text/html" },
                    Case { "/bundle.js", "bundle_js", "text/javascript" },
                    Case { "/tarvo-logo.svg", "tarvologo_svg", "image/svg+xml" } })
    {
        SCOPED_TRACE (k.path);
        auto r = c.get (k.path);
        ASSERT_TRUE (r.has_value());
        EXPECT_EQ (r->mimeType, k.mime);
        EXPECT_EQ (text (*r), embedded (k.id));
        EXPECT_FALSE (r->data.empty());
    }
}

TEST (ResourceProvider, ServesCacheFilesWithTheirTypes)
{
    CacheFolders c;
    struct Case { const char* path; const char* body; const char* mime; };
    for (auto k : { Case { "/mascots/a.svg?v=3", "<svg id='a'/>", "image/svg+xml" },
                    Case { "/mascots/a.mjs", "export const x = 1;", "text/javascript" },
                    Case { "/banners/b.png", "PNG", "application/octet-stream" } })
    {
        SCOPED_TRACE (k.path);
        auto r = c.get (k.path);
        ASSERT_TRUE (r.has_value());
        EXPECT_EQ (text (*r), k.body);
        EXPECT_EQ (r->mimeType, k.mime);
    }
}

TEST (ResourceProvider, RefusesEverythingElse)
{
    CacheFolders c;
    const juce::String hugeQuery = "/index.htm?" + juce::String::repeatedString ("q", 1 << 20);
    for (auto path : { "/Index.html", "/foo/index.html", "/INDEX.HTML", "/index.html/", "index.html",
                       "/mascots/sub/a.svg", "/mascots/../registry-cache.json", "/mascots/", "/mascots",
                       "/mascots/%2e%2e/registry-cache.json", "/mascots/..%2fregistry-cache.json",
                       "/mascots/sub", "/mascots/.", "/mascots/..", "/mascots//a.svg",
                       "/banners/missing.png", "/banners/../mascots/a.svg", "/banners/" , "/Mascots/a.svg",
                       "/registry-cache.json", "/../registry-cache.json", "/mascots/a.svg/..",
                       "/mascots/" "/etc/passwd", "/mascots/~/x" })
    {
        SCOPED_TRACE (path);
        EXPECT_FALSE (c.get (path).has_value());
    }
    EXPECT_FALSE (c.get (hugeQuery).has_value());
    EXPECT_TRUE (c.get ("/index.html?" + juce::String::repeatedString ("q", 1 << 20)).has_value());
}

TEST (ResourceProvider, FindsABannerThatAppearsWhileRunning)
{
    CacheFolders c;
    EXPECT_FALSE (c.get ("/banners/new.svg").has_value());
    c.banners.getChildFile ("new.svg").replaceWithText ("<svg/>");
    auto r = c.get ("/banners/new.svg");
    ASSERT_TRUE (r.has_value());
    EXPECT_EQ (r->mimeType, "image/svg+xml");
}

TEST (ResourceProvider, MimeTypesByEnding)
{
    struct Case { const char* path; const char* mime; };
    for (auto k : { Case { "a.html", "text/html" }, Case { "a.css", "text/css" }, Case { "a.js", "text/javascript" },
                    Case { "a.mjs", "text/javascript" }, Case { "a.svg", "image/svg+xml" },
                    Case { "a.png", "application/octet-stream" }, Case { "a.HTML", "application/octet-stream" },
                    Case { "a.svg.gz", "application/octet-stream" }, Case { "", "application/octet-stream" } })
    {
        EXPECT_EQ (mimeForFile (k.path), k.mime) << k.path;
    }
}
