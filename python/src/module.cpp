// The extension module tamlib._core: the C interface of libtamresampler, one class per handle
// kind. The Python package builds its friendlier API on top of it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>

#include "CoreResampler.h"
#include "tamlib/resampler.h"

namespace py = pybind11;
using tamlib_python::CoreChannel;
using tamlib_python::CoreResampler;

namespace {

// tamlib.Error and its subclass for resources, made when the module loads.
PyObject* libraryError = nullptr;
PyObject* resourceError = nullptr;

// Every library failure is a C++ exception with a fixed message, so that nothing a caller does
// can end the interpreter. A refused argument or call (a logic error) is a ValueError, as
// Python has it; anything else the library meets is a tamlib.Error, memory a ResourceError.
void translateLibraryErrors(std::exception_ptr failure) {
    try {
        if (failure) {
            std::rethrow_exception(failure);
        }
    } catch (const std::bad_alloc&) {
        PyErr_SetString(resourceError, "Out of memory in the resampler.");
    } catch (const std::logic_error& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const std::exception& error) {
        PyErr_SetString(libraryError, error.what());
    }
}

uint32_t aliasFreeFilterLength(double outputRate, double inputRate, int32_t transitionPercent,
                               double attenuationDb) {
    uint32_t length = 0;
    getAliasFreeFilterLength(outputRate, inputRate, transitionPercent, attenuationDb, &length);
    return length;
}

bool canAcceptChannel(int32_t method, int32_t isArray, uint64_t inputBufferSize, double outputRate,
                      double inputRate, int32_t transitionPercent, double attenuationDb) {
    uint32_t result = 1;
    canResamplerAcceptChannel(method, isArray, inputBufferSize, outputRate, inputRate,
                              transitionPercent, attenuationDb, &result);
    return result == 0;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Thin binding of the Tamlib Resampler C interface; use the tamlib package instead.";
    libraryError = PyErr_NewExceptionWithDoc(
        "tamlib.Error", "A failure of the library that is not a refused argument.", nullptr,
        nullptr);
    const py::tuple resourceBases =
        py::make_tuple(py::handle(libraryError), py::handle(PyExc_MemoryError));
    resourceError = PyErr_NewExceptionWithDoc("tamlib.ResourceError",
                                              "The library ran out of memory or another resource.",
                                              resourceBases.ptr(), nullptr);
    m.attr("Error") = py::handle(libraryError);
    m.attr("ResourceError") = py::handle(resourceError);
    py::register_exception_translator(&translateLibraryErrors);

    m.attr("METHOD_HOLD") = TAMLIB_METHOD_HOLD;
    m.attr("METHOD_LINEAR") = TAMLIB_METHOD_LINEAR;
    m.attr("METHOD_ALIAS_FREE") = TAMLIB_METHOD_ALIAS_FREE;
    m.attr("TIMEBASE_IMPLICIT") = TAMLIB_TIMEBASE_IMPLICIT;
    m.attr("TIMEBASE_EXPLICIT") = TAMLIB_TIMEBASE_EXPLICIT;

    m.def("alias_free_filter_length", &aliasFreeFilterLength, py::arg("output_rate"),
          py::arg("input_rate"), py::arg("transition_percent"), py::arg("attenuation_db"),
          "getAliasFreeFilterLength: coefficients per polyphase branch.");
    m.def("can_accept_channel", &canAcceptChannel, py::arg("method"), py::arg("is_array"),
          py::arg("input_buffer_size"), py::arg("output_rate"), py::arg("input_rate"),
          py::arg("transition_percent"), py::arg("attenuation_db"),
          "canResamplerAcceptChannel, as a bool.");

    py::class_<CoreChannel>(m, "CoreChannel")
        .def_readonly("array_size", &CoreChannel::arraySize)
        .def_readonly("is_array", &CoreChannel::isArray);

    py::class_<CoreResampler>(m, "CoreResampler")
        .def(py::init<int32_t>(), py::arg("method"))
        .def("close", &CoreResampler::close)
        .def_property_readonly("closed", &CoreResampler::closed)
        .def("set_samplerate", &CoreResampler::setSamplerate)
        .def("set_input_buffer_size", &CoreResampler::setInputBufferSize)
        .def("set_output_buffer_size", &CoreResampler::setOutputBufferSize)
        .def("set_max_wait_time_ms", &CoreResampler::setMaxWaitTimeInMs)
        .def("set_custom_epsilon", &CoreResampler::setCustomEpsilon)
        .def("set_initial_offset", &CoreResampler::setInitialOffset)
        .def("set_time_base", &CoreResampler::setTimeBase)
        .def("set_sidelobe_attenuation_db", &CoreResampler::setSidelobeAttenuationInDB)
        .def("set_transition_bandwidth_percent", &CoreResampler::setTransitionBandwithPercent)
        .def("add_sync_channel", &CoreResampler::addSyncChannel)
        .def("add_sync_channel2", &CoreResampler::addSyncChannel2)
        .def("add_async_channel", &CoreResampler::addAsyncChannel)
        .def("add_async_channel2", &CoreResampler::addAsyncChannel2)
        .def("add_async_channel3", &CoreResampler::addAsyncChannel3)
        .def("add_async_array_channel", &CoreResampler::addAsyncArrayChannel)
        .def("add_data", &CoreResampler::addData)
        .def("add_times", &CoreResampler::addTimes)
        .def("add_master_times", &CoreResampler::addMasterTimes)
        .def("add_block_end_time_ms", &CoreResampler::addBlockEndTimeInMs)
        .def("no_more_data_to_add", &CoreResampler::noMoreDataToAdd)
        .def("initialize", &CoreResampler::initialize)
        .def("calculate", &CoreResampler::calculate)
        .def("resampled_count", &CoreResampler::resampledCount)
        .def("expected_count", &CoreResampler::expectedCount)
        .def("all_data_count", &CoreResampler::allDataCount)
        .def("read_times", &CoreResampler::readTimes)
        .def("read_data", &CoreResampler::readData);
}
