# A build to ship must name the service it verifies against: the default address is this
# machine's, where scripts/run starts a demo service, and would ship a window that cannot verify.
if(NOT FILEHASH_PRODUCTION)
    return()
endif()

find_program(FILEHASH_OPENSSL openssl)
set(url "${FILEHASH_SERVICE_URL}")
if(NOT url MATCHES "^https://([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])(:[0-9]+)?$")
    message(FATAL_ERROR
        "FILEHASH_PRODUCTION needs FILEHASH_SERVICE_URL set to the verification service's HTTPS origin, "
        "https://HOST[:PORT] without a path or a trailing slash (it is \"${url}\"). "
        "Configure with -DFILEHASH_SERVICE_URL=https://verify.example.com")
endif()
string(TOLOWER "${CMAKE_MATCH_1}" host)
if(host MATCHES "^(localhost\\.?|.*\\.localhost\\.?|127\\.[0-9.]+|0\\.0\\.0\\.0|\\[::1?\\]|\\[::ffff:127\\..*\\])$")
    message(FATAL_ERROR
        "FILEHASH_PRODUCTION: FILEHASH_SERVICE_URL \"${url}\" is this machine, not a verification "
        "service users can reach. Configure with -DFILEHASH_SERVICE_URL=https://verify.example.com")
endif()

if(FILEHASH_SERVICE_CA)
    if(NOT EXISTS "${FILEHASH_SERVICE_CA}" OR IS_DIRECTORY "${FILEHASH_SERVICE_CA}")
        message(FATAL_ERROR "FILEHASH_PRODUCTION: FILEHASH_SERVICE_CA \"${FILEHASH_SERVICE_CA}\" is not a file")
    endif()
    # scripts/run's CA signs a certificate for localhost only, and its key lies in a build tree.
    if(FILEHASH_OPENSSL)
        execute_process(COMMAND ${FILEHASH_OPENSSL} x509 -noout -subject -in "${FILEHASH_SERVICE_CA}"
            OUTPUT_VARIABLE subject RESULT_VARIABLE failed ERROR_QUIET)
        if(failed)
            message(FATAL_ERROR
                "FILEHASH_PRODUCTION: FILEHASH_SERVICE_CA \"${FILEHASH_SERVICE_CA}\" holds no PEM certificate")
        endif()
        if(subject MATCHES "filehash demo CA")
            message(FATAL_ERROR
                "FILEHASH_PRODUCTION: FILEHASH_SERVICE_CA \"${FILEHASH_SERVICE_CA}\" is the demo CA of "
                "scripts/run; give the CA that signs the real service's certificate, or none for the system's")
        endif()
    endif()
endif()

# The time-stamping authority, when one is named: a real one, never scripts/run's demo.
if(FILEHASH_TSA_URL)
    if(NOT FILEHASH_TSA_URL MATCHES "^https?://([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])(:[0-9]+)?(/.*)?$")
        message(FATAL_ERROR "FILEHASH_PRODUCTION: FILEHASH_TSA_URL \"${FILEHASH_TSA_URL}\" is not an HTTP or HTTPS URL")
    endif()
    string(TOLOWER "${CMAKE_MATCH_1}" tsa_host)
    if(tsa_host MATCHES "^(localhost\\.?|.*\\.localhost\\.?|127\\.[0-9.]+|0\\.0\\.0\\.0|\\[::1?\\])$")
        message(FATAL_ERROR "FILEHASH_PRODUCTION: FILEHASH_TSA_URL \"${FILEHASH_TSA_URL}\" is this machine, "
            "not a time-stamping authority users can reach")
    endif()
endif()
if(FILEHASH_TSA_CA AND FILEHASH_OPENSSL)
    execute_process(COMMAND ${FILEHASH_OPENSSL} x509 -noout -subject -in "${FILEHASH_TSA_CA}"
        OUTPUT_VARIABLE subject RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR subject MATCHES "filehash demo")
        message(FATAL_ERROR "FILEHASH_PRODUCTION: FILEHASH_TSA_CA \"${FILEHASH_TSA_CA}\" is no PEM certificate, or "
            "scripts/run's demo CA")
    endif()
endif()
