#include "platform/WebBrowserComponent.h"

namespace tarvo
{
    using Options = WebBrowserComponent::Options;

    Options Options::withNativeIntegrationEnabled (bool enabled) const
    {
        auto copy = *this;
        copy.nativeIntegration = enabled;
        return copy;
    }

    Options Options::withResourceProvider (ResourceProvider p, std::optional<juce::String> origin) const
    {
        auto copy = *this;
        copy.provider = std::move (p);
        copy.allowedOrigin = std::move (origin);
        return copy;
    }

    Options Options::withNativeFunction (const juce::Identifier& name, NativeFunction function) const
    {
        auto copy = *this;
        copy.functions.emplace_back (name, std::move (function));
        return copy;
    }

    juce::StringArray Options::getNativeFunctionNames() const
    {
        juce::StringArray names;
        for (auto& f : functions)
            names.add (f.first.toString());
        return names;
    }

    std::optional<WebBrowserComponent::Resource> Options::serve (const juce::String& path) const
    {
        if (! provider)
            return std::nullopt;
        return provider (path);
    }

    bool Options::invoke (const juce::String& name, const juce::Array<juce::var>& args,
                          NativeFunctionCompletion completion) const
    {
        for (auto& f : functions)
        {
            if (f.first.toString() == name)
            {
                f.second (args, std::move (completion));
                return true;
            }
        }
        return false;
    }
}
