/* Which attribute names carry secrets whose values never reach a log line: the agent's key list
 * (passwords, key pass-phrases, in-stream scripts) and any name that speaks of a password
 * ("DB_PASSWD", "APPSPassword"). Used by every function that dumps an attribute list. */
#ifndef ZPAAPI_SECRET_H
#define ZPAAPI_SECRET_H

bool zpaapi_is_secret_name(const char* name);

#endif
