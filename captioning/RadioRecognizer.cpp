#include "captioning/RadioRecognizer.h"
#include "captioning/RecognitionParameters.h"

#include <ggml-backend.h>
#include <whisper.h>

#ifdef VANTULI_HAVE_VULKAN
#include <vulkan/vulkan.h>
#endif

#include <QDir>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace vantuli {

namespace {

// The names of the Vulkan devices that are CPUs in disguise (lavapipe,
// SwiftShader: VK_PHYSICAL_DEVICE_TYPE_CPU), asked of the Vulkan loader.
std::vector<QString> softwareVulkanDevices()
{
    std::vector<QString> names;
#ifdef VANTULI_HAVE_VULKAN
    VkApplicationInfo application{};
    application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    application.apiVersion = VK_API_VERSION_1_0;
    VkInstanceCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    info.pApplicationInfo = &application;
    VkInstance instance = VK_NULL_HANDLE;
    if (vkCreateInstance(&info, nullptr, &instance) != VK_SUCCESS)
        return names;
    uint32_t count = 0;
    std::vector<VkPhysicalDevice> devices;
    if (vkEnumeratePhysicalDevices(instance, &count, nullptr) == VK_SUCCESS && count > 0) {
        devices.resize(count);
        if (vkEnumeratePhysicalDevices(instance, &count, devices.data()) < 0)
            count = 0;
        devices.resize(count);
    }
    for (VkPhysicalDevice device : devices) {
        VkPhysicalDeviceProperties properties{};
        vkGetPhysicalDeviceProperties(device, &properties);
        if (properties.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU)
            names.push_back(QString::fromUtf8(properties.deviceName));
    }
    vkDestroyInstance(instance, nullptr);
#endif
    return names;
}

} // namespace

void keepVulkanAwayWithoutGpu()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char *chosen : {"GGML_DISABLE_VULKAN", "GGML_VK_VISIBLE_DEVICES", "VK_ICD_FILENAMES", "VK_DRIVER_FILES"}) {
            if (std::getenv(chosen))
                return;
        }
        if (!QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty())
            return;
        setenv("GGML_DISABLE_VULKAN", "1", 0);
    });
}

std::mutex &speechModelLoads()
{
    static std::mutex loads;
    return loads;
}

std::vector<ComputeDevice> computeDevices()
{
    keepVulkanAwayWithoutGpu();
    std::vector<ComputeDevice> devices;
    bool anyGpu = false;
    for (size_t i = 0; i < ggml_backend_dev_count(); ++i) {
        ggml_backend_dev_t device = ggml_backend_dev_get(i);
        const enum ggml_backend_dev_type type = ggml_backend_dev_type(device);
        ComputeDevice entry;
        entry.name = QString::fromUtf8(ggml_backend_dev_name(device));
        entry.description = QString::fromUtf8(ggml_backend_dev_description(device));
        entry.gpu = type == GGML_BACKEND_DEVICE_TYPE_GPU || type == GGML_BACKEND_DEVICE_TYPE_IGPU;
        entry.integrated = type == GGML_BACKEND_DEVICE_TYPE_IGPU;
        anyGpu = anyGpu || entry.gpu;
        devices.push_back(entry);
    }
    // The Vulkan backend reports every device it shows as a GPU; a software
    // one only appears when GGML_VK_VISIBLE_DEVICES names it.
    if (anyGpu) {
        const std::vector<QString> software = softwareVulkanDevices();
        for (ComputeDevice &device : devices)
            device.software = device.gpu && device.name.startsWith(QLatin1String("Vulkan")) &&
                              std::find(software.begin(), software.end(), device.description) != software.end();
    }
    return devices;
}

ComputeChoice chooseComputeDevice(const std::vector<ComputeDevice> &devices)
{
    ComputeChoice discrete, integrated, cpu;
    cpu.device.name = QStringLiteral("CPU");
    int gpuIndex = 0;
    for (const ComputeDevice &device : devices) {
        if (!device.gpu) {
            if (device.name == QLatin1String("CPU"))
                cpu.device = device;
            continue;
        }
        ComputeChoice &slot = device.integrated ? integrated : discrete;
        if (!device.software && slot.gpuIndex < 0)
            slot = {gpuIndex, device};
        ++gpuIndex;
    }
    return discrete.gpuIndex >= 0 ? discrete : integrated.gpuIndex >= 0 ? integrated : cpu;
}

std::unique_ptr<RadioRecognizer> RadioRecognizer::create(const QString &modelPath)
{
    // The library's defaults, with the device named explicitly: a hardware
    // GPU where there is one, never a software Vulkan device (slower than the
    // CPU backend), the CPU otherwise.
    whisper_context_params params = whisper_context_default_params();
    ComputeChoice compute = chooseComputeDevice(computeDevices());
    if (compute.gpuIndex >= 0)
        params.gpu_device = compute.gpuIndex;
    else
        params.use_gpu = false;
    const QByteArray path = QFile::encodeName(modelPath);
    whisper_context *context = nullptr;
    {
        const std::lock_guard lock(speechModelLoads());
        context = whisper_init_from_file_with_params(path.constData(), params);
    }
    if (!context)
        return nullptr;
    return std::unique_ptr<RadioRecognizer>(new RadioRecognizer(context, std::move(compute)));
}

RadioRecognizer::~RadioRecognizer()
{
    whisper_free(context_);
}

QString RadioRecognizer::libraryLanguage(const QString &language)
{
    if (language.isEmpty())
        return QStringLiteral("auto");
    const QByteArray code = language.toUtf8();
    return whisper_lang_id(code.constData()) >= 0 ? language : QStringLiteral("auto");
}

bool RadioRecognizer::worthRecognizing(const float *samples, qsizetype count)
{
    if (!samples || count < minimumSamples || count > INT_MAX)
        return false;
    double sum = 0;
    for (qsizetype i = 0; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return std::sqrt(sum / double(count)) >= minimumLoudness;
}

std::vector<RecognizedSegment> RadioRecognizer::segmentsForSamples(const float *samples, qsizetype count,
                                                                   const QString &language)
{
    if (!worthRecognizing(samples, count))
        return {};

    lastLanguage_ = libraryLanguage(language);
    const QByteArray code = lastLanguage_.toUtf8(); // outlives the call below
    whisper_full_params params = recognitionParameters(code.constData());
    // The library asks between its steps whether to give up; only a flag
    // that is set (at shutdown) makes it.
    if (abort_) {
        params.abort_callback = [](void *flag) { return static_cast<const std::atomic<bool> *>(flag)->load(); };
        params.abort_callback_user_data = const_cast<std::atomic<bool> *>(abort_);
    }

    ++transcriptions_;
    if (whisper_full(context_, params, samples, int(count)) != 0)
        return {};

    std::vector<RecognizedSegment> segments;
    const int n = whisper_full_n_segments(context_);
    for (int i = 0; i < n; ++i) {
        const char *raw = whisper_full_get_segment_text(context_, i);
        if (!raw || !*raw)
            continue;
        const QString text = decodeUtf8DroppingInvalid(raw).trimmed();
        if (text.isEmpty())
            continue;
        segments.push_back({text, double(whisper_full_get_segment_t0(context_, i)) * 0.01,
                            double(whisper_full_get_segment_t1(context_, i)) * 0.01});
    }
    return segments;
}

QString decodeUtf8DroppingInvalid(std::string_view bytes)
{
    std::string kept;
    kept.reserve(bytes.size());
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        size_t length = 0;
        unsigned char low = 0x80, high = 0xbf; // allowed range of the second byte
        if (b < 0x80) {
            length = 1;
        } else if (b >= 0xc2 && b <= 0xdf) {
            length = 2;
        } else if (b >= 0xe0 && b <= 0xef) {
            length = 3;
            if (b == 0xe0)
                low = 0xa0; // overlong
            else if (b == 0xed)
                high = 0x9f; // surrogates
        } else if (b >= 0xf0 && b <= 0xf4) {
            length = 4;
            if (b == 0xf0)
                low = 0x90; // overlong
            else if (b == 0xf4)
                high = 0x8f; // past U+10FFFF
        }
        bool valid = length > 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char c = s[i + k];
            valid = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xbf);
        }
        if (valid) {
            kept.append(bytes.data() + i, length);
            i += length;
        } else {
            ++i; // drop the offending byte and resynchronise on the next one
        }
    }
    return QString::fromUtf8(kept.data(), qsizetype(kept.size()));
}

std::vector<Caption> captionsForSegments(const std::vector<RecognizedSegment> &segments, qint64 windowOffset,
                                         qsizetype sampleCount)
{
    const double base = double(windowOffset) / 16000.0;
    const double windowEnd = double(windowOffset + sampleCount) / 16000.0;
    std::vector<Caption> captions;
    captions.reserve(segments.size());
    for (const RecognizedSegment &segment : segments) {
        const double start = std::min(segment.start + base, windowEnd);
        const double end = std::min(std::max(start + 0.15, segment.end + base), windowEnd);
        captions.push_back({QUuid::createUuid(), segment.text, start, end});
    }
    return captions;
}

std::vector<Caption> recognize(const SpeechWindow &window, SpeechRecognizer &recognizer, const QString &language)
{
    const qsizetype count = qsizetype(window.samples.size());
    return captionsForSegments(recognizer.segmentsForSamples(window.samples.data(), count, language), window.offset,
                               count);
}

} // namespace vantuli
